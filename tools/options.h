// Command line of tesk-beat: every option, its default and its validation.
#pragma once

#include <optional>
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

// The two trackers: the plug-in's "BarPointerTracker" node (a probabilistic
// bar-pointer model) and its "BeatTracker" node (spectro-temporal pattern
// matching).
enum class TrackerKind { kBarPointer, kStpm };

// What each tracker runs with when an option is not given. Changing a
// default, or the default tracker, takes one line here.
struct TrackerDefaults {
  const char* name;        // as given to --tracker
  int analysis_rate;       // Hz: inputs above it are resampled to it; 0 = never
  double window_seconds;   // rounded up to an FFT-friendly size at the analysis rate
  double advance_seconds;  // rounded to whole samples
  int min_bpm;
  int max_bpm;
  float threshold;
  double compress;         // gamma of log(1 + gamma*|X|)
  int announce_ahead;      // frames; bar-pointer only
};

// The stpm node searches intervals shorter than the period of MIN_BPM: 79
// keeps 80 BPM, a common tempo, inside the range.
inline constexpr TrackerDefaults kStpmDefaults{"stpm", 16000, 0.032, 0.010, 79, 160, 0.5f,
                                               10.0, 0};
inline constexpr TrackerDefaults kBarPointerDefaults{"bar-pointer", 44100, 0.046, 0.010, 55, 215,
                                                     0.5f, 10.0, 3};
inline constexpr TrackerKind kDefaultTracker = TrackerKind::kBarPointer;

const TrackerDefaults& defaultsOf(TrackerKind tracker);

struct Options {
  std::vector<std::string> inputs;  // "-" is standard input
  OutputFormat format = OutputFormat::kPlain;
  TrackerKind tracker = kDefaultTracker;
  bool offline = false;  // Viterbi decoding of the whole input (bar-pointer only)

  // Node parameters; 0 or unset = the tracker's default (messages tell
  // the options given from the defaults taken by it).
  int min_bpm = 0;
  int max_bpm = 0;
  std::optional<float> threshold;
  int window = 0;   // samples at the analysis rate
  int advance = 0;  // samples at the analysis rate
  std::optional<int> announce_ahead;  // frames (bar-pointer only)
  bool diagnostics = false;  // "LOG_FLAG" (stpm only)
  bool vectors = false;      // "VECTOR_FLAG"

  // Front end and reporting; unset = the tracker's default.
  std::optional<int> analysis_rate;  // inputs above it are resampled to it; 0 = never
  std::optional<double> compress;    // gamma of log(1 + gamma*|X|); 0 = linear spectrum
  double offset = 0.0;     // seconds added to every reported beat time
  bool reliable_only = false;
  // Beats after a second of input below this level (dBFS, the channel mean)
  // are dropped: the trackers announce beats in silence. 0 = report them.
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
RawFormat parseRawFormat(const std::string& text);

std::string helpText(const std::string& program);

}  // namespace tesk_beat
