// The node driven on click tracks: announced beats, tempo, beat log and the
// feature outputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BarPointerTracker.h"
#include "BeatTracker.h"
#include "FrameSource.h"
#include "NodeFixture.h"
#include "tesk/Vector.h"

using namespace TESK;

namespace {

// Spectra of a click every `period` frames starting at frame `phase`: a
// broadband burst that fades over two frames, over a faint noise floor.
// From frame `silence_from` on, everything is zero.
FrameSource::Maker clickTrack(int window, int period, int phase, int silence_from = 1 << 30) {
  return [=](int count, FrameSource::Audio &audio, FrameSource::Spectrum &spectrum) {
    const int bins = window / 2 + 1;
    audio.resize(2, window);
    spectrum.resize(1, bins);
    if (count >= silence_from) return;
    const int since = ((count - phase) % period + period) % period;
    const float level = since == 0 ? 1.0f : since == 1 ? 0.5f : since == 2 ? 0.25f : 0.01f;
    for (int j = 0; j < bins; ++j)
      spectrum(0, j) = std::complex<float>(level * (1.0f + 0.1f * (j % 7)), 0.0f);
  };
}

struct FrameOutputs {
  bool detected;
  float tempo;
  float confidence;
  int ahead;   // "BEAT_AHEAD", where the node has it
  int in_bar;  // "BEAT_IN_BAR", likewise
};

// Runs `frames` frames through a node and collects its scalar outputs
// (`bar_pointer`: its own ones too).
std::vector<FrameOutputs> run(Node &node, FrameSource &source, int frames,
                              bool bar_pointer = false) {
  source.feed(node);
  node.initialize();
  std::vector<FrameOutputs> outputs;
  for (int i = 0; i < frames; ++i) {
    ObjectRef detected = node.getOutput(node.getOutputID("BEAT_DETECTED"), i);
    ObjectRef tempo = node.getOutput(node.getOutputID("TEMPO"), i);
    ObjectRef confidence = node.getOutput(node.getOutputID("CONFIDENCE"), i);
    auto scalar = [&](const char *name) {
      return bar_pointer ? dereference_cast<int>(node.getOutput(node.getOutputID(name), i)) : 0;
    };
    outputs.push_back({dereference_cast<bool>(detected), dereference_cast<float>(tempo),
                       dereference_cast<float>(confidence), scalar("BEAT_AHEAD"),
                       scalar("BEAT_IN_BAR")});
  }
  return outputs;
}

}  // namespace

class NodeTracking : public InTempDir {};

// 44100 Hz, advance 441: 100 frames per second, so a click every 50 frames
// is 120 BPM. The window of 512 samples spans one frame, so the engine's
// frame index equals the host's.
TEST_F(NodeTracking, SteadyClicksGiveTempo120OnTheClicks) {
  const int period = 50, phase = 7, frames = 1500;
  testing::internal::CaptureStdout();
  std::vector<FrameOutputs> out;
  {
    BeatTracker node("beat", NodeParams().set());
    FrameSource source(clickTrack(512, period, phase));
    out = run(node, source, frames);
  }
  const std::string console = testing::internal::GetCapturedStdout();

  std::vector<int> reliable;
  for (int i = 0; i < frames; ++i) {
    ASSERT_TRUE(std::isfinite(out[i].tempo));
    if (!out[i].detected) {
      EXPECT_EQ(out[i].tempo, 0.0f) << "frame " << i;
      continue;
    }
    if (out[i].tempo != 0.0f) {
      EXPECT_EQ(out[i].tempo, 120.0f) << "frame " << i;
      EXPECT_GE(out[i].confidence, 0.5f);
      reliable.push_back(i);
    }
  }
  ASSERT_GE(reliable.size(), 15u) << console.substr(0, 2000);
  for (std::size_t k = 1; k < reliable.size(); ++k)
    EXPECT_EQ(reliable[k] - reliable[k - 1], period) << "at frame " << reliable[k];
  for (int frame : reliable) {
    const int offset = ((frame - phase) % period + period) % period;
    EXPECT_TRUE(offset <= 2 || offset >= period - 2) << "beat at frame " << frame;
  }

  // One beat log line per reliable beat: tempo, frame, reliability.
  std::ifstream log(dir / "bt_pellanbt.dat");
  std::string line;
  std::size_t lines = 0;
  while (std::getline(log, line)) {
    ASSERT_LT(lines, reliable.size());
    std::ostringstream expected;
    expected << 120 << " " << reliable[lines] << " ";
    EXPECT_EQ(line.rfind(expected.str(), 0), 0u) << line;
    std::istringstream fields(line.substr(expected.str().size()));
    double q = -1;
    fields >> q;
    EXPECT_GE(q, 0.5);
    EXPECT_LE(q, 1.0);
    ++lines;
  }
  EXPECT_EQ(lines, reliable.size());
  EXPECT_NE(console.find("Rely!!! : "), std::string::npos);
  EXPECT_NE(console.find(" tempo: 120\n"), std::string::npos);
}

TEST_F(NodeTracking, VectorOutputsFollowTheFlag) {
  testing::internal::CaptureStdout();
  for (bool vectors : {false, true}) {
    NodeParams params;
    params.vectors = vectors;
    BeatTracker node("beat", params.set());
    FrameSource source(clickTrack(512, 50, 0));
    run(node, source, 120);
    for (const char *name : {"ONSET_VECTOR", "STPM_VECTOR", "CHROMA_VECTOR"}) {
      ObjectRef value = node.getOutput(node.getOutputID(name), 119);
      if (!vectors) {
        EXPECT_TRUE(value.isNil()) << name;
        continue;
      }
      RCPtr<Vector<float> > vector = value;
      // 100 frames per second, 60 to 200 BPM: intervals 31 to 99.
      const std::size_t expected = std::string(name) == "ONSET_VECTOR"  ? 64
                                   : std::string(name) == "STPM_VECTOR" ? 69
                                                                        : 12;
      EXPECT_EQ(vector->size(), expected) << name;
    }
    if (vectors) {
      RCPtr<Vector<float> > chroma = node.getOutput(node.getOutputID("CHROMA_VECTOR"), 119);
      float peak = 0;
      for (float v : *chroma) peak = std::max(peak, v);
      EXPECT_EQ(peak, 1.0f) << "chroma is scaled to a peak of 1";
    }
  }
  testing::internal::GetCapturedStdout();
}

// With the shortest interval at 5 frames a silent frame reports interval 0.
// Beats scheduled before the music stopped fall due in the silence; with a
// threshold of 0 they would count as reliable, but a beat without an
// interval has no tempo and must not be published.
TEST_F(NodeTracking, BeatsWithoutAnIntervalAreNotPublished) {
  NodeParams params;
  params.rate = 16000;
  params.advance = 160;
  params.max_bpm = 1201;  // ceil(6000 / 1200) = 5 frames
  params.threshold = 0.0f;
  const int frames = 1400, silence = 1000;
  testing::internal::CaptureStdout();
  std::vector<FrameOutputs> out;
  {
    BeatTracker node("beat", params.set());
    FrameSource source(clickTrack(320, 50, 3, silence));
    out = run(node, source, frames);
  }
  const std::string console = testing::internal::GetCapturedStdout();
  int silent_beats = 0;
  for (int i = 0; i < frames; ++i) {
    ASSERT_TRUE(std::isfinite(out[i].tempo)) << "frame " << i;
    if (i >= silence + 100 && out[i].detected) {
      ++silent_beats;
      EXPECT_EQ(out[i].tempo, 0.0f) << "frame " << i;
    }
  }
  EXPECT_GT(silent_beats, 0) << "no beat fell due in the silence";
  EXPECT_EQ(console.find("tempo: inf"), std::string::npos);
  std::ifstream log(dir / "bt_pellanbt.dat");
  std::string line;
  while (std::getline(log, line)) EXPECT_EQ(line.find("inf"), std::string::npos) << line;
}

// The bar-pointer node on the click track at 44100 Hz, advance 441, window
// 2048: after a few seconds to settle, one beat per click, each on its
// click or, with "ANNOUNCE_AHEAD", announced up to that many frames before
// it, and the tempo of the confident ones at 120 BPM.
TEST_F(NodeTracking, BarPointerNodeFollowsClicksAt120Bpm) {
  const int period = 50, phase = 7, frames = 1500, settle = 400;
  for (int announce_ahead : {0, 3}) {
    SCOPED_TRACE("ANNOUNCE_AHEAD " + std::to_string(announce_ahead));
    ParameterSet params = NodeParams().set();
    params.add("ANNOUNCE_AHEAD", ObjectRef(NetCType<int>::alloc(announce_ahead)));
    BarPointerTracker node("beat", params);
    FrameSource source(clickTrack(2048, period, phase));
    const std::vector<FrameOutputs> out = run(node, source, frames, true);

    int beats = 0, reliable = 0, ahead_of_time = 0;
    for (int k = 0; k < frames; ++k) {
      ASSERT_TRUE(std::isfinite(out[k].confidence)) << "frame " << k;
      ASSERT_GE(out[k].confidence, 0.0f);
      ASSERT_LE(out[k].confidence, 1.0f);
      // The tracker follows beats and knows no bar yet: no beat has a place in one.
      EXPECT_EQ(out[k].in_bar, 0) << "frame " << k;
      if (!out[k].detected) {
        EXPECT_EQ(out[k].tempo, 0.0f) << "frame " << k;
        EXPECT_EQ(out[k].ahead, 0) << "frame " << k;
        continue;
      }
      EXPECT_GE(out[k].ahead, 0) << "frame " << k;
      EXPECT_LE(out[k].ahead, announce_ahead) << "frame " << k;
      ahead_of_time += out[k].ahead > 0;
      const int beat = k + out[k].ahead;
      if (beat < settle) continue;
      const int offset = ((beat - phase) % period + period) % period;
      EXPECT_TRUE(offset <= 2 || offset >= period - 2) << "beat at frame " << beat;
      ++beats;
      if (out[k].tempo != 0.0f) {
        EXPECT_NEAR(out[k].tempo, 120.0f, 1.2f) << "frame " << k;
        EXPECT_GE(out[k].confidence, 0.5f) << "frame " << k;
        ++reliable;
      }
    }
    const int clicks = (frames - settle) / period;
    EXPECT_NEAR(beats, clicks, 1);
    EXPECT_GE(reliable, clicks * 3 / 4);
    if (announce_ahead > 0) {
      EXPECT_GE(ahead_of_time, clicks * 3 / 4);
    }
  }
}

// With "VECTOR_FLAG": the frame's onset feature, the tempo posterior over
// the beat intervals (100 frames per second, 60 to 200 BPM: 30 to 100
// frames, shortest first), and no chroma.
TEST_F(NodeTracking, BarPointerNodeVectorOutputs) {
  NodeParams params;
  params.vectors = true;
  BarPointerTracker node("beat", params.set());
  FrameSource source(clickTrack(2048, 50, 0));
  run(node, source, 1450);
  auto vectorAt = [&](const char *name, int frame) -> std::vector<float> {
    RCPtr<Vector<float> > v = node.getOutput(node.getOutputID(name), frame);
    return std::vector<float>(v->begin(), v->end());
  };
  const std::vector<float> on_click = vectorAt("ONSET_VECTOR", 1450);
  ASSERT_EQ(on_click.size(), 1u);
  EXPECT_GT(on_click[0], 0.5f) << "frame 1450 has a click";
  EXPECT_TRUE(vectorAt("CHROMA_VECTOR", 1450).empty());
  const std::vector<float> between = vectorAt("ONSET_VECTOR", 1499);
  ASSERT_EQ(between.size(), 1u);
  EXPECT_GE(between[0], 0.0f);
  EXPECT_LT(between[0], 0.1f) << "frame 1499 falls between clicks";
  const std::vector<float> posterior = vectorAt("STPM_VECTOR", 1499);
  ASSERT_EQ(posterior.size(), 71u);
  double total = 0.0;
  for (float p : posterior) total += p;
  EXPECT_NEAR(total, 1.0, 1e-3);
  const auto top = std::max_element(posterior.begin(), posterior.end()) - posterior.begin();
  EXPECT_EQ(30 + top, 50) << "the most probable interval is the clicks'";
}
