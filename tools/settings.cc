#include "settings.h"

#include <cmath>
#include <sstream>

#include "audio_input.h"

namespace tesk_beat {

namespace {

constexpr int kMinRate = 4000;
constexpr int kMaxChannels = 256;
constexpr int kMinWindow = 64;
constexpr int kMaxWindow = 1 << 16;
// The node's histories hold 3000 frames; the longest interval searched must
// stay well below that for pattern matching over several periods.
constexpr double kMaxIntervalFrames = 750.0;

}  // namespace

int fftFriendlySize(int n) {
  for (int m = n + (n & 1);; m += 2) {
    int r = m;
    for (int p : {2, 3, 5})
      while (r % p == 0) r /= p;
    if (r == 1) return m;
  }
}

namespace {

// "--advance 600" when the user gave it, else what the default is.
std::string named(const Options& o, const char* option, const std::string& what, int value,
                  const char* unit) {
  if (o.given.count(option)) return std::string(option) + " " + std::to_string(value);
  return "the default " + what + " (" + std::to_string(value) + unit + ")";
}

}  // namespace

std::string framingProblem(const Options& o, int rate, const std::string& rate_name,
                           TrackerSettings* chosen) {
  TrackerSettings s;
  s.window = o.window ? o.window : fftFriendlySize(int(std::lround(0.032 * rate)));
  s.advance = o.advance ? o.advance : int(std::lround(0.010 * rate));
  const std::string window = named(o, "--window", "window", s.window, " samples");
  const std::string advance = named(o, "--advance", "advance", s.advance, " samples");
  const std::string min_bpm = named(o, "--min-bpm", "slowest tempo", o.min_bpm, " BPM");
  const std::string max_bpm = named(o, "--max-bpm", "fastest tempo", o.max_bpm, " BPM");
  if (chosen) *chosen = s;
  std::ostringstream why;
  if (s.window < kMinWindow || s.window > kMaxWindow) {
    why << window << " at " << rate_name << " is outside " << kMinWindow << " to " << kMaxWindow
        << " samples";
    return why.str();
  }
  if (s.advance > s.window) {
    why << advance << " exceeds " << window << " at " << rate_name;
    return why.str();
  }
  // The node's interval range in frames (as it derives it).
  const double fps = double(rate) / double(s.advance);
  const double shortest = std::ceil(fps * 60.0 / double(o.max_bpm - 1));
  const double longest = std::ceil(fps * 60.0 / double(o.min_bpm));
  const std::string frames = advance + " at " + rate_name;
  if (shortest < 5.0) {
    why << frames << " gives " << fps << " frames/s, so " << max_bpm << " needs beat intervals of "
        << shortest << " frames; the node needs at least 5 (use a smaller --advance or --max-bpm)";
  } else if (longest < shortest + 2.0) {
    why << "the tempo range " << o.min_bpm << " to " << o.max_bpm << " BPM is too narrow for "
        << frames << " (intervals " << shortest << " to " << longest << " frames)";
  } else if (longest > kMaxIntervalFrames) {
    why << frames << " gives " << fps << " frames/s, so " << min_bpm << " needs beat intervals of "
        << longest << " frames; the node supports at most " << kMaxIntervalFrames
        << " (use a larger --advance or --min-bpm)";
  }
  return why.str();
}

std::string describeSettings(const TrackerSettings& s, int input_rate) {
  const double fps = double(s.sample_rate) / double(s.advance);
  // As the node derives them: the shortest from MAX_BPM - 1, the range
  // ending one frame before the period of MIN_BPM.
  const int shortest = int(std::ceil(fps * 60.0 / double(s.max_bpm - 1)));
  const int longest = int(std::ceil(fps * 60.0 / double(s.min_bpm))) - 1;
  std::ostringstream d;
  d.setf(std::ios::fixed);
  d.precision(1);
  d << "analysis rate " << s.sample_rate << " Hz";
  if (input_rate != s.sample_rate) d << " (input " << input_rate << " Hz, resampled)";
  d << ", window " << s.window << " samples (" << 1000.0 * s.window / s.sample_rate
    << " ms), advance " << s.advance << " samples (" << 1000.0 * s.advance / s.sample_rate
    << " ms, " << fps << " frames/s), beat intervals " << shortest << " to " << longest
    << " frames (" << 60.0 * fps / shortest << " to " << 60.0 * fps / longest
    << " BPM), threshold " << s.threshold << ", compression ";
  if (s.compress > 0.0) d << "log(1 + " << s.compress << "*|X|)";
  else d << "none (linear spectrum)";
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
  const std::string rate_name =
      (o.analysis_rate == rate && o.given.count("--analysis-rate") ? "--analysis-rate "
                                                                   : "the input's rate of ") +
      std::to_string(rate) + " Hz";
  const std::string problem = framingProblem(o, rate, rate_name, &s);
  if (!problem.empty()) fail(problem);
  s.sample_rate = rate;
  s.min_bpm = o.min_bpm;
  s.max_bpm = o.max_bpm;
  s.threshold = o.threshold;
  s.compress = o.compress;
  s.vectors = o.vectors;
  s.diagnostics = o.diagnostics;
  return s;
}

}  // namespace tesk_beat
