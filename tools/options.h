// Command line of tesk-beat: every option, its default and its validation.
#pragma once

#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tesk_beat {

enum class OutputFormat { kPlain, kCsv, kJson };

// Raw PCM on standard input: "--raw RATE:CHANNELS[:FORMAT]".
struct RawFormat {
  int sample_rate = 0;
  int channels = 0;
  std::string sample_format = "s16";  // s8 u8 s16 s24 s32 f32 f64, little-endian
};

struct Options {
  std::vector<std::string> inputs;  // "-" is standard input
  OutputFormat format = OutputFormat::kPlain;

  // Node parameters.
  // The node searches intervals shorter than the period of MIN_BPM: 79 keeps
  // 80 BPM, a common tempo, inside the range.
  int min_bpm = 79;
  int max_bpm = 160;
  float threshold = 0.5f;
  int window = 0;   // samples; 0 = about 32 ms at the input rate
  int advance = 0;  // samples; 0 = about 10 ms at the input rate
  bool diagnostics = false;  // "LOG_FLAG"
  bool vectors = false;      // "VECTOR_FLAG"

  // Front end and reporting.
  int analysis_rate = 16000;  // inputs above it are resampled to it; 0 = never
  double compress = 10.0;  // gamma of log(1 + gamma*|X|); 0 = linear spectrum
  double offset = 0.0;     // seconds added to every reported beat time
  bool reliable_only = false;
  // Beats after a second of input below this level (dBFS, the channel mean)
  // are not reported: the node announces beats in silence. 0 = report them.
  double silence_gate = -60.0;

  std::optional<RawFormat> raw;
  std::string clicks_path;
  std::string log_dir;
  std::string output_dir;
  std::string plugin_path;
  int jobs = 1;
  bool verbose = false;
  bool progress = true;  // only ever shown on a terminal that has no beat lines

  bool show_help = false;
  bool show_version = false;

  // The options given on the command line, by the name used there: messages
  // tell what the user chose apart from the defaults.
  std::set<std::string> given;
};

// A bad command line; the message names the option and what is wrong.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses argv[1..]; throws UsageError.
Options parseOptions(int argc, const char* const* argv);

// Number parsers shared with the raw-format parser; throw UsageError naming `what`.
long parseInteger(const std::string& text, const std::string& what, long min, long max);
double parseReal(const std::string& text, const std::string& what, double min, double max);
RawFormat parseRawFormat(const std::string& text);

std::string helpText(const std::string& program);

}  // namespace tesk_beat
