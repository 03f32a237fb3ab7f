// What a tracker runs with: the tracking options as the command line takes
// them (unset = the chosen tracker's default), their validation, and the
// frame settings they come to at a given analysis rate.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tesk-music/pipeline/console.h"
#include "tesk-music/pipeline/errors.h"

namespace tesk_pipeline {

// The two trackers: the plug-in's "BarPointerTracker" node (a probabilistic
// bar-pointer model) and its "BeatTracker" node (spectro-temporal pattern
// matching).
enum class TrackerKind { kBarPointer, kStpm };

// What the bar-pointer tracker observes: spectral flux, or a learned
// network's beat and downbeat activations.
enum class Activation { kFlux, kLearned };

// "flux" or "learned", as --activation names them.
const char* activationName(Activation activation);
// The activation `name` names; unset for any other name.
std::optional<Activation> activationNamed(const std::string& name);
// The message refusing `name` for --activation.
std::string unknownActivation(const std::string& name);

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
  Activation activation;   // bar-pointer only
};

// The stpm node searches intervals shorter than the period of MIN_BPM: 79
// keeps 80 BPM, a common tempo, inside the range.
inline constexpr TrackerDefaults kStpmDefaults{"stpm", 16000, 0.032, 0.010, 79, 160, 0.5f,
                                               10.0, 0, Activation::kFlux};
inline constexpr TrackerDefaults kBarPointerDefaults{"bar-pointer", 44100, 0.046, 0.010, 55, 215,
                                                     0.5f, 10.0, 3, Activation::kFlux};
inline constexpr TrackerKind kDefaultTracker = TrackerKind::kBarPointer;

const TrackerDefaults& defaultsOf(TrackerKind tracker);

// The accepted range of each numeric setting, as [min, max].
struct Range {
  double min, max;
};
inline constexpr Range kMinBpmRange{1, 999};
inline constexpr Range kMaxBpmRange{2, 1000};
inline constexpr Range kThresholdRange{0.0, 1.0};
inline constexpr Range kWindowRange{64, 1 << 16};
inline constexpr Range kAdvanceRange{1, 1 << 16};
inline constexpr Range kAnnounceAheadRange{0, 10000};
inline constexpr Range kAnalysisRateRange{0, 1000000};
inline constexpr int kMinAnalysisRate = 4000;  // or 0 = never resample
inline constexpr Range kCompressRange{0.0, 1e6};
inline constexpr Range kOffsetRange{-10.0, 10.0};
inline constexpr Range kSilenceGateRange{-200.0, 0.0};

struct Settings {
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
  std::optional<Activation> activation;  // "ACTIVATION" (bar-pointer only)
  bool diagnostics = false;  // "LOG_FLAG" (stpm only)
  bool vectors = false;      // "VECTOR_FLAG": beats carry the node's vectors (online only)

  // Front end; unset = the tracker's default.
  std::optional<int> analysis_rate;  // inputs above it are resampled to it; 0 = never
  std::optional<double> compress;    // gamma of log(1 + gamma*|X|); 0 = linear spectrum
  double offset = 0.0;     // seconds added to every beat time
  // Beats after a second of input below this level (dBFS, the channel mean)
  // are dropped: the trackers announce beats in silence. 0 = keep them.
  double silence_gate = -60.0;
  // Also report the beats before the tracker first locked on: it announces
  // beats in a tone or noise too, all discarded. Locked: bar-pointer, a
  // beat's confidence reached a quarter of the threshold (offline, anywhere
  // on the decoded path); stpm, a reliable beat.
  bool unlocked_beats = false;

  // Keep each analysis frame's onset strength for Tracker::takeOnsets()
  // (not a tool option: for front ends that show it).
  bool frame_onsets = false;

  // Each frame, a known reference signal (mono, at the input's rate,
  // aligned with the input: Tracker::process(samples, reference, frames))
  // is removed from the input's spectrum by the voice canceller before
  // tracking, e.g. speech or a backing track the microphone also hears.
  bool cancel_reference = false;

  // The node numbers its frames with an int, so after this many frames
  // (0 = the most it can number, INT_MAX: 248 days at a 10 ms advance) the
  // stream goes on through a fresh node, which finds the beat again within
  // seconds. Smaller values exist for tests.
  int64_t node_frame_limit = 0;

  // The plug-in to load; empty = next to this library or the program.
  std::string plugin_path;

  // Where the node's console lines go while the tracker runs (not a tool
  // option: the tool points its whole standard output elsewhere; a front
  // end inside another program cannot).
  ConsoleLines console = ConsoleLines::kStandardOutput;
};

// `s` with every unset tracking option at the chosen tracker's default
// (the window and advance, which depend on the rate, stay 0).
Settings withTrackerDefaults(const Settings& s);

// Why `s` cannot be used whatever the input, or "": a value out of its
// range, a tempo range or window the tracker cannot run with at the
// analysis rate it asks for (valueProblem), or an option the chosen tracker
// does not take (combinationProblem). The message names the options as the
// command line does.
std::string settingsProblem(const Settings& s);
std::string valueProblem(const Settings& s);
std::string combinationProblem(const Settings& s);

// The settings one input is tracked with: the analysis rate, the window
// and advance in samples at it, and every option resolved.
struct TrackerSettings {
  TrackerKind tracker = kDefaultTracker;
  int sample_rate = 0;
  int window = 0;
  int advance = 0;
  int min_bpm = 0;
  int max_bpm = 0;
  float threshold = 0.0f;
  // stpm: applied to the spectrum the node is fed; bar-pointer: the node's
  // "COMPRESSION", which it applies to its filterbank bands.
  double compress = 0.0;
  int announce_ahead = 0;  // bar-pointer: "ANNOUNCE_AHEAD"
  Activation activation = Activation::kFlux;  // bar-pointer: "ACTIVATION"
  bool vectors = false;
  bool diagnostics = false;
};

// The smallest even size >= n whose only prime factors are 2, 3 and 5:
// sizes FFTW transforms fastest.
int fftFriendlySize(int n);

// The rate the input is analysed at: the tracker's analysis rate (or
// --analysis-rate) when the input's rate is higher, else the input's own.
int analysisRate(const Settings& s, int input_rate);

// How messages call the analysis rate `rate`: "--analysis-rate 8000 Hz",
// "the default analysis rate of 44100 Hz" or "the input's rate of 8000 Hz".
std::string rateName(const Settings& s, int rate);

// Why the chosen tracker could not work with the window, advance, tempo
// range (and, for bar-pointer, announce-ahead) of `s` at `rate`, or "" when
// it can. The message names the options given and the defaults taken.
// `chosen` receives the settings, every option not given at the tracker's
// default, the window and advance from their durations at `rate`.
std::string framingProblem(const Settings& s, int rate, TrackerSettings* chosen = nullptr);

// The settings the tracker runs with, in one line: the tracker, analysis
// rate, window, advance, the beat interval range in frames and BPM,
// threshold, compression, and for bar-pointer the activation and how far
// ahead beats are announced (or that they are decoded offline).
std::string describeSettings(const TrackerSettings& s, int input_rate, bool offline);

// The settings for an input of `channels` channels analysed at
// `sample_rate` (see framingProblem), checked against what the tracker
// accepts. Throws SettingsError naming the rate or the option at fault.
TrackerSettings trackerSettings(const Settings& s, int sample_rate, int channels);

}  // namespace tesk_pipeline
