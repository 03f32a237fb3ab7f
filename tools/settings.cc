#include "settings.h"

#include <cmath>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "BarPointerParameters.h"
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

int analysisRate(const Options& o, int input_rate) {
  const int wanted = *withTrackerDefaults(o).analysis_rate;
  return wanted > 0 && input_rate > wanted ? wanted : input_rate;
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

namespace {

// The stpm node's interval range in frames (as it derives it).
void checkStpmRange(const TrackerSettings& s, const std::function<void(const std::string&)>& fail) {
  const double fps = double(s.sample_rate) / double(s.advance);
  const double shortest = std::ceil(fps * 60.0 / double(s.max_bpm - 1));
  const double longest = std::ceil(fps * 60.0 / double(s.min_bpm));
  std::ostringstream why;
  if (shortest < 5.0) {
    why << "--max-bpm " << s.max_bpm << " needs beat intervals of " << shortest
        << " frames at " << fps << " frames/s; the node needs at least 5 (use a smaller "
        << "--advance or --max-bpm)";
    fail(why.str());
  }
  if (longest < shortest + 2.0) {
    why << "tempo range " << s.min_bpm << " to " << s.max_bpm << " BPM is too narrow at " << fps
        << " frames/s (intervals " << shortest << " to " << longest << " frames)";
    fail(why.str());
  }
  if (longest > kMaxIntervalFrames) {
    why << "--min-bpm " << s.min_bpm << " needs beat intervals of " << longest << " frames at "
        << fps << " frames/s; the node supports at most " << kMaxIntervalFrames
        << " (use a larger --advance or --min-bpm)";
    fail(why.str());
  }
}

// The bar-pointer tracker judges its own settings; the message names the
// options that set them.
void checkBarPointer(const TrackerSettings& s, const std::function<void(const std::string&)>& fail) {
  try {
    bar_pointer::validate(barPointerSettings(s));
  } catch (const std::invalid_argument& e) {
    std::ostringstream why;
    why << "the bar-pointer tracker cannot run with --min-bpm " << s.min_bpm << ", --max-bpm "
        << s.max_bpm << ", --announce-ahead " << s.announce_ahead << " and --advance "
        << s.advance << " at " << s.sample_rate << " Hz (" << e.what() << ")";
    fail(why.str());
  }
}

}  // namespace

TrackerSettings trackerSettings(const Options& given, int rate, int channels,
                                const std::string& input) {
  auto fail = [&](const std::string& why) { throw InputError(input + ": " + why); };
  if (rate < kMinRate)
    fail("sample rate " + std::to_string(rate) + " Hz is too low for beat tracking (at least " +
         std::to_string(kMinRate) + " Hz)");
  if (channels > kMaxChannels)
    fail(std::to_string(channels) + " channels are more than the " +
         std::to_string(kMaxChannels) + " supported");

  const Options o = withTrackerDefaults(given);
  const TrackerDefaults& d = defaultsOf(o.tracker);
  TrackerSettings s;
  s.tracker = o.tracker;
  s.sample_rate = rate;
  s.window = o.window ? o.window : fftFriendlySize(int(std::lround(d.window_seconds * rate)));
  s.advance = o.advance ? o.advance : int(std::lround(d.advance_seconds * rate));
  if (s.window < kMinWindow || s.window > kMaxWindow)
    fail("--window " + std::to_string(s.window) + " is outside " + std::to_string(kMinWindow) +
         " to " + std::to_string(kMaxWindow) + " samples");
  if (s.advance > s.window)
    fail("--advance " + std::to_string(s.advance) + " exceeds the window of " +
         std::to_string(s.window) + " samples");
  s.min_bpm = o.min_bpm;
  s.max_bpm = o.max_bpm;
  s.threshold = *o.threshold;
  s.compress = *o.compress;
  s.announce_ahead = *o.announce_ahead;
  s.vectors = o.vectors;
  s.diagnostics = o.diagnostics;
  if (s.tracker == TrackerKind::kStpm)
    checkStpmRange(s, fail);
  else
    checkBarPointer(s, fail);
  return s;
}

}  // namespace tesk_beat
