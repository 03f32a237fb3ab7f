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
  s.sample_rate = rate;
  s.window = o.window ? o.window : fftFriendlySize(int(std::lround(0.032 * rate)));
  s.advance = o.advance ? o.advance : int(std::lround(0.010 * rate));
  if (s.window < kMinWindow || s.window > kMaxWindow)
    fail("--window " + std::to_string(s.window) + " is outside " + std::to_string(kMinWindow) +
         " to " + std::to_string(kMaxWindow) + " samples");
  if (s.advance > s.window)
    fail("--advance " + std::to_string(s.advance) + " exceeds the window of " +
         std::to_string(s.window) + " samples");
  s.min_bpm = o.min_bpm;
  s.max_bpm = o.max_bpm;
  s.threshold = o.threshold;
  s.compress = o.compress;
  s.vectors = o.vectors;
  s.diagnostics = o.diagnostics;

  // The node's interval range in frames (as it derives it).
  const double fps = double(rate) / double(s.advance);
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
  return s;
}

}  // namespace tesk_beat
