#include "settings.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "BarPointerParameters.h"
#include "audio_input.h"
#include "bar_pointer/StateSpace.h"

namespace tesk_beat {

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

// The bar-pointer tracker's own limits, said in the tool's options; its
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

int fftFriendlySize(int n) {
  for (int m = n + (n & 1);; m += 2) {
    int r = m;
    for (int p : {2, 3, 5})
      while (r % p == 0) r /= p;
    if (r == 1) return m;
  }
}

int analysisRate(const Options& o, int input_rate) {
  const int wanted = *withTrackerDefaults(o).analysis_rate;
  return wanted > 0 && input_rate > wanted ? wanted : input_rate;
}

std::string rateName(const Options& o, int rate) {
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
  return ::barPointerSettings(p);
}

std::string framingProblem(const Options& given, int rate, TrackerSettings* chosen) {
  const Options o = withTrackerDefaults(given);
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
  if (!stpm && offline) d << ", decoded offline (Viterbi)";
  else if (!stpm) d << ", beats announced up to " << s.announce_ahead << " frames ahead";
  return d.str();
}

TrackerSettings trackerSettings(const Options& o, int rate, int channels,
                                const std::string& input) {
  auto fail = [&](const std::string& why) { throw InputError(input + ": " + why); };
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

}  // namespace tesk_beat
