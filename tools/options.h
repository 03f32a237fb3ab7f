// Command line of tesk-beat: every option, its default and its validation.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tesk-music/pipeline/settings.h"

namespace tesk_beat {

enum class OutputFormat { kPlain, kCsv, kJson };

// Raw PCM on standard input: "--raw RATE:CHANNELS[:FORMAT]".
struct RawFormat {
  int sample_rate = 0;
  int channels = 0;
  std::string sample_format = "s16";  // s8 u8 s16 s24 s32 f32 f64, little-endian
};

// The tracking options and their defaults belong to the pipeline; the tool
// names them as its own.
using tesk_pipeline::defaultsOf;
using tesk_pipeline::kBarPointerDefaults;
using tesk_pipeline::kDefaultTracker;
using tesk_pipeline::kStpmDefaults;
using tesk_pipeline::TrackerDefaults;
using tesk_pipeline::TrackerKind;
using tesk_pipeline::TrackerSettings;

// The tracking options (tracker, tempo range, window, ...) are the
// pipeline's Settings; the rest is the tool's.
struct Options : tesk_pipeline::Settings {
  std::vector<std::string> inputs;  // "-" is standard input
  OutputFormat format = OutputFormat::kPlain;
  bool reliable_only = false;

  std::optional<RawFormat> raw;
  // --reference: a file whose sound is cancelled from every input
  // (cancel_reference is set with it).
  std::string reference_path;
  std::string clicks_path;
  std::vector<std::string> osc_urls;  // each beat is also sent there as it is announced
  std::string log_dir;
  std::string output_dir;
  int jobs = 1;
  bool verbose = false;
  bool progress = true;  // only ever shown on a terminal that has no beat lines

  // Live mode: a JACK client (named jack_name) instead of inputs.
  bool jack = false;
  std::string jack_name = "tesk-beat";
  std::vector<std::string> connect;  // output ports connected to in_1, in_2
  int jack_ports = 0;                // input ports; 0 = one per --connect, at least 1
  bool midi_out = false;             // a note per beat on the "midi_out" port
  bool midi_clock = false;           // MIDI beat clock on the "midi_out" port
  std::optional<int> midi_note;      // unset: 37
  std::optional<int> midi_downbeat_note;  // unset: the beat note for downbeats too
  std::optional<int> midi_channel;   // unset: 10
  std::optional<int> midi_velocity;  // 0 = the beat's confidence; unset: 100

  bool show_help = false;
  bool show_version = false;
};

// A bad command line; the message names the option and what is wrong.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses argv[1..]; throws UsageError.
Options parseOptions(int argc, const char* const* argv);

// `o` with every unset tracking option at the chosen tracker's default
// (the window and advance, which depend on the rate, stay 0).
Options withTrackerDefaults(const Options& o);

// Number parsers shared with the raw-format parser; throw UsageError naming `what`.
long parseInteger(const std::string& text, const std::string& what, long min, long max);
double parseReal(const std::string& text, const std::string& what, double min, double max);
long parseInteger(const std::string& text, const std::string& what, tesk_pipeline::Range r);
double parseReal(const std::string& text, const std::string& what, tesk_pipeline::Range r);
RawFormat parseRawFormat(const std::string& text);

std::string helpText(const std::string& program);

}  // namespace tesk_beat
