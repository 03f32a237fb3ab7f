#include "tesk-music/pipeline/settings.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "BarPointerParameters.h"
#include "bar_pointer/StateSpace.h"
#include "bar_pointer_settings.h"

namespace tesk_pipeline {

namespace {

constexpr int kMinRate = 4000;
constexpr int kMaxChannels = 256;
constexpr int kMinWindow = 64;
constexpr int kMaxWindow = 1 << 16;
// The stpm node's histories hold 3000 frames; the longest interval searched
// must stay well below that for pattern matching over several periods.
constexpr double kMaxIntervalFrames = 750.0;

// A number as a person writes it: "100", "73.5", "0.25".
std::string number(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

// "--advance 600" when the user gave it, else what the default is.
std::string named(bool given, const char* option, const std::string& what, int value,
                  const char* unit) {
  if (given) return std::string(option) + " " + std::to_string(value);
  return "the default " + what + " (" + std::to_string(value) + unit + ")";
}

struct Names {
  std::string window, advance, min_bpm, max_bpm, announce_ahead, frames;
};

// The stpm node's interval range in frames (as it derives it).
std::string stpmProblem(const TrackerSettings& s, const Names& n) {
  const double fps = double(s.sample_rate) / double(s.advance);
  const double shortest = std::ceil(fps * 60.0 / double(s.max_bpm - 1));
  const double longest = std::ceil(fps * 60.0 / double(s.min_bpm));
  std::ostringstream why;
  if (shortest < 5.0) {
    why << n.frames << " gives " << fps << " frames/s, so " << n.max_bpm
        << " needs beat intervals of " << shortest
        << " frames; the stpm node needs at least 5 (use a smaller --advance or --max-bpm)";
  } else if (longest < shortest + 2.0) {
    why << "the tempo range " << s.min_bpm << " to " << s.max_bpm << " BPM is too narrow for "
        << n.frames << " (intervals " << shortest << " to " << longest << " frames)";
  } else if (longest > kMaxIntervalFrames) {
    why << n.frames << " gives " << fps << " frames/s, so " << n.min_bpm
        << " needs beat intervals of " << longest << " frames; the stpm node supports at most "
        << kMaxIntervalFrames << " (use a larger --advance or --min-bpm)";
  }
  return why.str();
}

// The bar-pointer tracker's own limits, said in the command line's options; its
// validation has the last word on anything else.
std::string barPointerProblem(const TrackerSettings& s, const Names& n) {
  const bar_pointer::Settings model = barPointerSettings(s);
  const bar_pointer::Intervals iv = bar_pointer::intervalRange(model);
  const double fps = model.framesPerSecond();
  const int fewest = model.beat_region + 1;
  std::ostringstream why;
  if (iv.shortest < fewest) {
    why << n.frames << " gives " << fps << " frames/s, so " << n.max_bpm
        << " needs beat intervals of " << iv.shortest
        << " frames; the bar-pointer tracker needs at least " << fewest
        << " (use a smaller --advance or --max-bpm)";
  } else if (iv.longest > bar_pointer::kMaxInterval) {
    why << n.frames << " gives " << fps << " frames/s, so " << n.min_bpm
        << " needs beat intervals of " << iv.longest
        << " frames; the bar-pointer tracker supports at most " << bar_pointer::kMaxInterval
        << " (use a larger --advance or --min-bpm)";
  } else if (iv.longest <= iv.shortest) {
    why << "the tempo range " << s.min_bpm << " to " << s.max_bpm << " BPM is too narrow for "
        << n.frames << " (intervals " << iv.shortest << " to " << iv.longest << " frames)";
  } else if (s.announce_ahead >= iv.shortest) {
    why << n.announce_ahead << " is not shorter than the shortest beat interval: " << n.frames
        << " gives " << fps << " frames/s, so " << n.max_bpm << " needs intervals of "
        << iv.shortest << " frames (use a smaller --announce-ahead or --max-bpm)";
  } else if (model.activation == bar_pointer::Settings::Activation::kLearned &&
             !bar_pointer::learnedFramingProblem(model).empty()) {
    why << "--activation learned needs 100 frames/s at an analysis rate of 16 kHz or more; "
        << n.frames << " gives " << fps
        << " frames/s (use --activation flux for this input, or the default --advance)";
  } else {
    try {
      bar_pointer::validate(model);
    } catch (const std::invalid_argument& e) {
      why << "the bar-pointer tracker cannot run with " << n.min_bpm << ", " << n.max_bpm << ", "
          << n.announce_ahead << " and " << n.frames << " (" << e.what() << ")";
    }
  }
  return why.str();
}

}  // namespace

const char* activationName(Activation activation) {
  return activation == Activation::kLearned ? "learned" : "flux";
}

std::optional<Activation> activationNamed(const std::string& name) {
  for (Activation a : {Activation::kFlux, Activation::kLearned})
    if (name == activationName(a)) return a;
  return std::nullopt;
}

std::string unknownActivation(const std::string& name) {
  return "--activation: '" + name + "' is unknown (use flux or learned)";
}

const TrackerDefaults& defaultsOf(TrackerKind tracker) {
  return tracker == TrackerKind::kStpm ? kStpmDefaults : kBarPointerDefaults;
}

Settings withTrackerDefaults(const Settings& given) {
  const TrackerDefaults& d = defaultsOf(given.tracker);
  Settings s = given;
  if (s.min_bpm == 0) s.min_bpm = d.min_bpm;
  if (s.max_bpm == 0) s.max_bpm = d.max_bpm;
  if (!s.threshold) s.threshold = d.threshold;
  if (!s.analysis_rate) s.analysis_rate = d.analysis_rate;
  if (!s.compress) s.compress = d.compress;
  if (!s.announce_ahead) s.announce_ahead = d.announce_ahead;
  if (!s.activation) s.activation = d.activation;
  return s;
}

std::string valueProblem(const Settings& o) {
  // Each value as the command line rejects it: "--min-bpm: '0' is out of
  // range (1 to 999)". Unset (0) sizes and tempi take the defaults.
  auto outside = [](const char* option, double value, Range r, bool unset_allowed = false) {
    if ((unset_allowed && value == 0.0) || (value >= r.min && value <= r.max)) return std::string();
    return std::string(option) + ": '" + number(value) + "' is out of range (" + number(r.min) +
           " to " + number(r.max) + ")";
  };
  std::string why;
  for (std::string w : {outside("--min-bpm", o.min_bpm, kMinBpmRange, true),
                        outside("--max-bpm", o.max_bpm, kMaxBpmRange, true),
                        o.threshold ? outside("--threshold", *o.threshold, kThresholdRange) : "",
                        outside("--window", o.window, kWindowRange, true),
                        outside("--advance", o.advance, kAdvanceRange, true),
                        o.announce_ahead
                            ? outside("--announce-ahead", *o.announce_ahead, kAnnounceAheadRange)
                            : "",
                        o.analysis_rate
                            ? outside("--analysis-rate", *o.analysis_rate, kAnalysisRateRange)
                            : "",
                        o.compress ? outside("--compress", *o.compress, kCompressRange) : "",
                        outside("--offset", o.offset, kOffsetRange),
                        outside("--silence-gate", o.silence_gate, kSilenceGateRange)})
    if (why.empty() && !w.empty()) why = w;
  if (!why.empty()) return why;
  if (o.analysis_rate && *o.analysis_rate != 0 && *o.analysis_rate < kMinAnalysisRate)
    return "--analysis-rate: " + std::to_string(*o.analysis_rate) + " Hz is too low (at least " +
           std::to_string(kMinAnalysisRate) + " Hz, or 0 for the input's rate)";
  const Settings r = withTrackerDefaults(o);
  const std::string tracker_default =
      std::string(" (the ") + defaultsOf(o.tracker).name + " tracker's default)";
  if (r.min_bpm >= r.max_bpm)
    return "--min-bpm " + std::to_string(r.min_bpm) + (o.min_bpm ? "" : tracker_default) +
           " must be below --max-bpm " + std::to_string(r.max_bpm) +
           (o.max_bpm ? "" : tracker_default);
  if (o.window != 0 && o.advance != 0 && o.advance > o.window)
    return "--advance " + std::to_string(o.advance) + " must not exceed --window " +
           std::to_string(o.window);
  if (const int rate = *r.analysis_rate; rate > 0) {
    // Inputs at or above the chosen tracker's analysis rate are analysed at
    // it: what they need can be checked now, once.
    const std::string problem = framingProblem(o, rate);
    if (!problem.empty()) return problem;
  }
  return "";
}

std::string combinationProblem(const Settings& o) {
  if (o.tracker == TrackerKind::kStpm) {
    if (o.offline)
      return "--offline needs --tracker bar-pointer (the stpm tracker decodes online only)";
    if (o.announce_ahead) return "--announce-ahead applies to --tracker bar-pointer only";
    if (o.activation) return "--activation applies to --tracker bar-pointer only";
  } else if (o.diagnostics) {
    return "--diagnostics applies to --tracker stpm only (the bar-pointer tracker "
           "writes no diagnostic files)";
  }
  if (o.offline && o.vectors)
    return "--vectors applies to online tracking only (offline beats carry no vectors)";
  return "";
}

std::string settingsProblem(const Settings& s) {
  const std::string why = valueProblem(s);
  return why.empty() ? combinationProblem(s) : why;
}

int fftFriendlySize(int n) {
  for (int m = n + (n & 1);; m += 2) {
    int r = m;
    for (int p : {2, 3, 5})
      while (r % p == 0) r /= p;
    if (r == 1) return m;
  }
}

int analysisRate(const Settings& o, int input_rate) {
  const int wanted = *withTrackerDefaults(o).analysis_rate;
  return wanted > 0 && input_rate > wanted ? wanted : input_rate;
}

std::string rateName(const Settings& o, int rate) {
  const std::string hz = std::to_string(rate) + " Hz";
  if (o.analysis_rate && *o.analysis_rate == rate) return "--analysis-rate " + hz;
  if (!o.analysis_rate && defaultsOf(o.tracker).analysis_rate == rate)
    return "the default analysis rate of " + hz;
  return "the input's rate of " + hz;
}

bar_pointer::Settings barPointerSettings(const TrackerSettings& s) {
  BarPointerParameters p;
  p.sampling_rate = s.sample_rate;
  p.window = s.window;
  p.advance = s.advance;
  p.min_bpm = s.min_bpm;
  p.max_bpm = s.max_bpm;
  p.announce_ahead = s.announce_ahead;
  p.compression = double(float(s.compress));  // as the node's float parameter gives it
  p.activation = s.activation == Activation::kLearned ? bar_pointer::Settings::Activation::kLearned
                                                      : bar_pointer::Settings::Activation::kFlux;
  return ::barPointerSettings(p);
}

std::string framingProblem(const Settings& given, int rate, TrackerSettings* chosen) {
  const Settings o = withTrackerDefaults(given);
  const TrackerDefaults& d = defaultsOf(o.tracker);
  TrackerSettings s;
  s.tracker = o.tracker;
  s.sample_rate = rate;
  s.window = o.window ? o.window : fftFriendlySize(int(std::lround(d.window_seconds * rate)));
  s.advance = o.advance ? o.advance : int(std::lround(d.advance_seconds * rate));
  s.min_bpm = o.min_bpm;
  s.max_bpm = o.max_bpm;
  s.threshold = *o.threshold;
  s.compress = *o.compress;
  s.announce_ahead = *o.announce_ahead;
  s.activation = *o.activation;
  s.vectors = o.vectors;
  s.diagnostics = o.diagnostics;
  if (chosen) *chosen = s;

  const std::string rate_name = rateName(given, rate);
  Names n;
  n.window = named(given.window != 0, "--window", "window", s.window, " samples");
  n.advance = named(given.advance != 0, "--advance", "advance", s.advance, " samples");
  n.min_bpm = named(given.min_bpm != 0, "--min-bpm", "slowest tempo", s.min_bpm, " BPM");
  n.max_bpm = named(given.max_bpm != 0, "--max-bpm", "fastest tempo", s.max_bpm, " BPM");
  n.announce_ahead = named(given.announce_ahead.has_value(), "--announce-ahead", "announce-ahead",
                           s.announce_ahead, " frames");
  n.frames = n.advance + " at " + rate_name;
  if (s.window < kMinWindow || s.window > kMaxWindow)
    return n.window + " at " + rate_name + " is outside " + std::to_string(kMinWindow) + " to " +
           std::to_string(kMaxWindow) + " samples";
  if (s.advance > s.window) return n.advance + " exceeds " + n.window + " at " + rate_name;
  return s.tracker == TrackerKind::kStpm ? stpmProblem(s, n) : barPointerProblem(s, n);
}

std::string describeSettings(const TrackerSettings& s, int input_rate, bool offline) {
  const double fps = double(s.sample_rate) / double(s.advance);
  const bool stpm = s.tracker == TrackerKind::kStpm;
  int shortest, longest;
  if (stpm) {
    // As the node derives them: the shortest from MAX_BPM - 1, the range
    // ending one frame before the period of MIN_BPM.
    shortest = int(std::ceil(fps * 60.0 / double(s.max_bpm - 1)));
    longest = int(std::ceil(fps * 60.0 / double(s.min_bpm))) - 1;
  } else {
    const bar_pointer::Intervals iv = bar_pointer::intervalRange(barPointerSettings(s));
    shortest = iv.shortest;
    longest = iv.longest;
  }
  std::ostringstream d;
  d.setf(std::ios::fixed);
  d.precision(1);
  d << "tracker " << defaultsOf(s.tracker).name << ", analysis rate " << s.sample_rate << " Hz";
  if (input_rate != s.sample_rate) d << " (input " << input_rate << " Hz, resampled)";
  d << ", window " << s.window << " samples (" << 1000.0 * s.window / s.sample_rate
    << " ms), advance " << s.advance << " samples (" << 1000.0 * s.advance / s.sample_rate
    << " ms, " << fps << " frames/s), beat intervals " << shortest << " to " << longest
    << " frames (" << 60.0 * fps / shortest << " to " << 60.0 * fps / longest
    << " BPM), threshold " << number(s.threshold) << ", compression ";
  if (s.compress <= 0.0) d << "none";
  else if (stpm) d << "log(1 + " << number(s.compress) << "*|X|)";
  else d << "log(1 + " << number(float(s.compress)) << "*x) of the filterbank bands";
  if (!stpm) d << ", activation " << activationName(s.activation);
  if (!stpm && offline) d << ", decoded offline (Viterbi)";
  else if (!stpm) d << ", beats announced up to " << s.announce_ahead << " frames ahead";
  return d.str();
}

TrackerSettings trackerSettings(const Settings& o, int rate, int channels) {
  auto fail = [](const std::string& why) { throw SettingsError(why); };
  if (rate < kMinRate)
    fail("sample rate " + std::to_string(rate) + " Hz is too low for beat tracking (at least " +
         std::to_string(kMinRate) + " Hz)");
  if (channels > kMaxChannels)
    fail(std::to_string(channels) + " channels are more than the " +
         std::to_string(kMaxChannels) + " supported");
  TrackerSettings s;
  const std::string problem = framingProblem(o, rate, &s);
  if (!problem.empty()) fail(problem);
  return s;
}

}  // namespace tesk_pipeline
