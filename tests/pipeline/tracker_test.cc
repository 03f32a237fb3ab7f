// The Tracker as a front end uses it: blocks of any size give the same
// beats, and settings are refused with the command line's messages.
#include "tesk-music/pipeline/tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "music_synth.h"
#include "options.h"

using tesk_pipeline::Beat;
using tesk_pipeline::Settings;
using tesk_pipeline::Tracker;
using tesk_pipeline::TrackerKind;

namespace {

Settings withPlugin(Settings s) {
  s.plugin_path = TESK_MUSIC_PLUGIN;
  return s;
}

struct Tracked {
  std::vector<Beat> beats;
  std::vector<float> onsets;  // with frame_onsets
};

// Every beat of `piece`, fed `block` frames at a time.
Tracked track(const Settings& s, const tesk_beat_test::Piece& piece, int64_t block) {
  Tracker tracker(withPlugin(s), piece.rate, piece.channels);
  Tracked t;
  auto add = [&](std::vector<Beat> more) {
    t.beats.insert(t.beats.end(), more.begin(), more.end());
    const std::vector<float> onsets = tracker.takeOnsets();
    t.onsets.insert(t.onsets.end(), onsets.begin(), onsets.end());
  };
  const int64_t total = int64_t(piece.samples.size()) / piece.channels;
  for (int64_t at = 0; at < total; at += block)
    add(tracker.process(piece.samples.data() + at * piece.channels, std::min(block, total - at)));
  add(tracker.finish());
  EXPECT_EQ(int64_t(t.onsets.size()), s.frame_onsets ? tracker.frames() : 0);
  return t;
}

void expectSameBeats(const std::vector<Beat>& a, const std::vector<Beat>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE("beat " + std::to_string(i));
    EXPECT_EQ(a[i].frame, b[i].frame);
    EXPECT_EQ(a[i].time, b[i].time);
    EXPECT_EQ(a[i].reliable, b[i].reliable);
    EXPECT_EQ(a[i].tempo, b[i].tempo);
    EXPECT_EQ(a[i].confidence, b[i].confidence);
    EXPECT_EQ(a[i].beat_in_bar, b[i].beat_in_bar);
    EXPECT_EQ(a[i].onset, b[i].onset);
    EXPECT_EQ(a[i].stpm, b[i].stpm);
    EXPECT_EQ(a[i].chroma, b[i].chroma);
  }
}

struct BlockCase {
  const char* name;
  int rate;
  int channels;
  std::function<void(Settings&)> set;
};

}  // namespace

// Each tracker, at a rate it analyses directly and at one it resamples
// (and the onsets of every frame, kept on request):
// the block boundaries must not reach the framing, the resampler, the
// silence gate or the offline decoder.
TEST(Tracker, BlocksOfAnySizeGiveTheSameBeats) {
  const std::vector<BlockCase> cases = {
      {"bar-pointer at its rate", 44100, 2, [](Settings&) {}},
      {"bar-pointer resampled, with onsets", 48000, 1, [](Settings& s) { s.frame_onsets = true; }},
      {"bar-pointer offline", 44100, 2, [](Settings& s) { s.offline = true; }},
      {"stpm resampled, with vectors", 44100, 2,
       [](Settings& s) {
         s.tracker = TrackerKind::kStpm;
         s.vectors = true;
         s.frame_onsets = true;
       }},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.name);
    const tesk_beat_test::Piece piece = tesk_beat_test::makeGroove(120.0, 10.0, c.rate, c.channels, 7);
    Settings s;
    c.set(s);
    const Tracked tracked = track(s, piece, int64_t(piece.samples.size()));
    const std::vector<Beat>& whole = tracked.beats;
    // Generated music at 120 BPM: beats throughout, most of them reliable.
    ASSERT_GT(whole.size(), 12u);
    EXPECT_GT(std::count_if(whole.begin(), whole.end(), [](const Beat& b) { return b.reliable; }),
              6);
    for (int64_t block : {1, 7, 4096}) {
      SCOPED_TRACE(std::to_string(block) + " frames a block");
      const Tracked blocks = track(s, piece, block);
      expectSameBeats(blocks.beats, whole);
      EXPECT_EQ(blocks.onsets, tracked.onsets);
    }
  }
}

// A stream longer than the node can number its frames goes on through a
// fresh node: frames keep counting, beat times stay on the stream's clock,
// and a few seconds after each change the beats are those of one node
// throughout.
TEST(Tracker, StreamOutlivesTheNodesFrameNumbers) {
  const tesk_beat_test::Piece piece = tesk_beat_test::makeGroove(120.0, 33.0, 44100, 1, 11);
  Settings s;
  const Tracked one = track(s, piece, 4096);
  s.node_frame_limit = 800;  // a fresh node every 8 s
  const Tracked relay = track(s, piece, 4096);
  ASSERT_GT(relay.beats.size(), 40u);
  for (size_t i = 1; i < relay.beats.size(); ++i)
    EXPECT_GT(relay.beats[i].time, relay.beats[i - 1].time) << i;
  for (double start : {8.0, 16.0, 24.0}) {
    SCOPED_TRACE("node started at " + std::to_string(start) + " s");
    auto after = [&](const std::vector<Beat>& beats) {
      std::vector<double> t;
      for (const Beat& b : beats)
        if (b.time > start + 4.0 && b.time < start + 8.0 && b.reliable) t.push_back(b.time);
      return t;
    };
    const std::vector<double> expected = after(one.beats), got = after(relay.beats);
    ASSERT_GE(expected.size(), 6u);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 0.02) << i;
  }
}

// What the command line refuses, the pipeline refuses with the same words.
TEST(Tracker, RefusesSettingsAsTheCommandLineDoes) {
  const std::vector<std::vector<const char*>> cases = {
      {"--min-bpm", "150", "--max-bpm", "120"},
      {"--window", "512", "--advance", "600"},
      {"--advance", "5000"},
      {"--tracker", "stpm", "--offline"},
      {"--tracker", "stpm", "--announce-ahead", "2"},
      {"--tracker", "stpm", "--activation", "flux"},
      {"--offline", "--vectors", "--format", "json"},
      {"--analysis-rate", "3000"},
  };
  for (const auto& args : cases) {
    std::vector<const char*> argv = {"tesk-beat"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("in.wav");
    std::string usage;
    try {
      tesk_beat::parseOptions(int(argv.size()), argv.data());
    } catch (const tesk_beat::UsageError& e) {
      usage = e.what();
    }
    SCOPED_TRACE(usage);
    ASSERT_FALSE(usage.empty());
    // The same values set on Settings directly, as another front end would.
    Settings s;
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string a = args[i];
      auto next = [&] { return std::stoi(args[++i]); };
      if (a == "--min-bpm") s.min_bpm = next();
      else if (a == "--max-bpm") s.max_bpm = next();
      else if (a == "--window") s.window = next();
      else if (a == "--advance") s.advance = next();
      else if (a == "--announce-ahead") s.announce_ahead = next();
      else if (a == "--analysis-rate") s.analysis_rate = next();
      else if (a == "--activation") s.activation = tesk_pipeline::activationNamed(args[++i]);
      else if (a == "--offline") s.offline = true;
      else if (a == "--vectors") s.vectors = true;
      else if (a == "--tracker") s.tracker = (++i, TrackerKind::kStpm);
      else if (a == "--format") ++i;
    }
    try {
      Tracker t(withPlugin(s), 44100, 2);
      ADD_FAILURE() << "accepted";
    } catch (const tesk_pipeline::SettingsError& e) {
      EXPECT_EQ(std::string(e.what()), usage);
    }
  }
  // What only an input can be refused for.
  try {
    Tracker t(withPlugin(Settings()), 3000, 1);
    ADD_FAILURE() << "accepted 3000 Hz";
  } catch (const tesk_pipeline::SettingsError& e) {
    EXPECT_NE(std::string(e.what()).find("sample rate 3000 Hz is too low"), std::string::npos);
  }
}

namespace {

// Each frame's onset strength of `input` (interleaved, `channels`) tracked
// with `s`; with a reference, fed through the cancelling process().
std::vector<float> onsetsOf(Settings s, const std::vector<float>& input, int channels, int rate,
                            const std::vector<float>* reference, std::vector<Beat>* beats = nullptr) {
  s.frame_onsets = true;
  Tracker tracker(withPlugin(s), rate, channels);
  std::vector<Beat> all;
  const int64_t total = int64_t(input.size()) / channels, block = 1000;
  for (int64_t at = 0; at < total; at += block) {
    const int64_t n = std::min(block, total - at);
    std::vector<Beat> more = reference
                                 ? tracker.process(input.data() + at * channels,
                                                   reference->data() + at, n)
                                 : tracker.process(input.data() + at * channels, n);
    all.insert(all.end(), more.begin(), more.end());
  }
  std::vector<Beat> last = tracker.finish();
  all.insert(all.end(), last.begin(), last.end());
  if (beats) *beats = all;
  return tracker.takeOnsets();
}

double meanAfter(const std::vector<float>& onsets, size_t first) {
  double sum = 0.0;
  for (size_t i = first; i < onsets.size(); ++i) sum += onsets[i];
  return onsets.size() > first ? sum / double(onsets.size() - first) : 0.0;
}

}  // namespace

// The microphone hears only the reference (2 ms late, quieter, in both
// channels): once the canceller has converged, what the tracker is fed has
// few onsets left (the canceller leaves some 13 to 18 dB of the reference;
// measured on the linear spectrum, as a residual that is a fixed fraction
// of the reference keeps its onsets after log compression). A silent
// reference leaves the music alone.
TEST(Tracker, CancelsTheReference) {
  for (int rate : {16000, 44100}) {
    SCOPED_TRACE(rate == 16000 ? "stpm at its rate" : "stpm resampled");
    const tesk_beat_test::Piece piece = tesk_beat_test::makeGroove(120.0, 20.0, rate, 1, 3);
    const std::vector<float>& reference = piece.samples;
    const int delay = rate / 500;
    std::vector<float> mic(reference.size() * 2, 0.0f);
    for (size_t i = delay; i < reference.size(); ++i)
      mic[2 * i] = mic[2 * i + 1] = 0.6f * reference[i - delay];
    Settings s;
    s.tracker = TrackerKind::kStpm;
    s.compress = 0.0;
    const std::vector<float> plain = onsetsOf(s, mic, 2, rate, nullptr);
    s.cancel_reference = true;
    const std::vector<float> cancelled = onsetsOf(s, mic, 2, rate, &reference);
    ASSERT_EQ(cancelled.size(), plain.size());
    const size_t converged = plain.size() / 4;  // after 5 s
    EXPECT_LT(meanAfter(cancelled, converged), 0.3 * meanAfter(plain, converged));

    Settings silent;
    silent.cancel_reference = true;
    std::vector<Beat> beats;
    onsetsOf(silent, piece.samples, 1, rate, nullptr, &beats);
    std::vector<double> times;
    for (const Beat& b : beats) times.push_back(b.time);
    EXPECT_GT(tesk_beat_test::fMeasure(piece.beats, times), 0.8);
  }
  try {
    std::vector<float> none(100, 0.0f);
    Tracker t(withPlugin(Settings()), 44100, 1);
    t.process(none.data(), none.data(), 100);
    ADD_FAILURE() << "a reference was taken without cancel_reference";
  } catch (const std::logic_error& e) {
    EXPECT_NE(std::string(e.what()).find("cancel_reference"), std::string::npos);
  }
}
