// Construction, parameters, margins, frame order and malformed frames.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "BarPointerTracker.h"
#include "BeatTracker.h"
#include "FrameSource.h"
#include "NodeFixture.h"
#include "tesk/Exception.h"
#include "tesk/String.h"

using namespace TESK;

namespace {

// A plain frame source: `window` samples of silence with a little noise
// floor in the spectrum.
FrameSource::Maker quietFrames(int window, int bins) {
  return [window, bins](int, FrameSource::Audio &audio, FrameSource::Spectrum &spectrum) {
    audio.resize(1, window);
    spectrum.resize(1, bins);
    for (int j = 0; j < bins; ++j) spectrum(0, j) = std::complex<float>(0.01f, 0.0f);
  };
}

// Exposes the output margins for inspection.
class InspectableBeatTracker : public BeatTracker {
public:
  using BeatTracker::BeatTracker;
  OutputCacheInfo &slot(int id) { return outputSlots[id]; }
  std::size_t samples() const { return sample_window ? sample_window->size() : 0; }
  std::size_t magnitudes() const { return magnitude_vector ? magnitude_vector->size() : 0; }
  std::size_t bins() const { return spectrum_window ? spectrum_window->size() : 0; }
  VoiceCancel *canceller() const { return voice_cancel.get(); }
};

std::string printed(const BaseException *e) {
  std::ostringstream out;
  e->print(out);
  return out.str();
}

// Builds a node and expects the construction to fail with a host exception
// whose text contains `expected`.
void expectRejected(const NodeParams &params, const std::string &expected) {
  try {
    BeatTracker node("beat", params.set());
    ADD_FAILURE() << "construction succeeded, expected: " << expected;
  } catch (BaseException *e) {
    EXPECT_NE(printed(e).find(expected), std::string::npos) << printed(e);
    delete e;
  }
}

}  // namespace

class NodeLifecycle : public InTempDir {};

TEST_F(NodeLifecycle, ConstructionAndDestructionPrintOneLineEach) {
  testing::internal::CaptureStdout();
  { BeatTracker node("beat", NodeParams().set()); }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "BeatTracker::BeatTracker\nBeatTracker::~BeatTracker\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "bt_pellanbt.dat"));
}

TEST_F(NodeLifecycle, DeclaresPortsInOrder) {
  BeatTracker node("beat", NodeParams().set());
  EXPECT_EQ(node.getInputID("AUDIO"), 0);
  EXPECT_EQ(node.getInputID("FFTAUDIO"), 1);
  const char *outputs[] = {"BEAT_DETECTED", "TEMPO",       "CONFIDENCE",
                           "ONSET_VECTOR",  "STPM_VECTOR", "CHROMA_VECTOR"};
  for (int id = 0; id < 6; ++id) EXPECT_EQ(node.getOutputID(outputs[id]), id);
  // The bar-pointer node has the same ports, and more outputs after them.
  BarPointerTracker bar("bar", NodeParams().set());
  EXPECT_EQ(bar.getInputID("AUDIO"), 0);
  EXPECT_EQ(bar.getInputID("FFTAUDIO"), 1);
  for (int id = 0; id < 6; ++id) EXPECT_EQ(bar.getOutputID(outputs[id]), id);
  EXPECT_EQ(bar.getOutputID("BEAT_AHEAD"), 6);
  EXPECT_EQ(bar.getOutputID("BEAT_IN_BAR"), 7);
}

TEST_F(NodeLifecycle, ParameterOfTheWrongTypeRaisesCastException) {
  ParameterSet params = NodeParams().set();
  params.add("RELIABILITY-THRESHOLD", ObjectRef(NetCType<int>::alloc(1)));
  testing::internal::CaptureStdout();
  try {
    BeatTracker node("beat", params);
    ADD_FAILURE() << "an int threshold was accepted";
  } catch (BaseException *e) {
    EXPECT_NE(dynamic_cast<CastException *>(e), nullptr);
    EXPECT_EQ(printed(e), "Cast error: Trying to cast ObjectRef (Int) into Float\n");
    delete e;
  }

  params = NodeParams().set();
  params.add("ADVANCE", ObjectRef(NetCType<float>::alloc(441.0f)));
  try {
    BeatTracker node("beat", params);
    ADD_FAILURE() << "a float advance was accepted";
  } catch (BaseException *e) {
    EXPECT_NE(dynamic_cast<CastException *>(e), nullptr);
    delete e;
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("~BeatTracker"), std::string::npos) << "no node was built, none destroyed";
}

TEST_F(NodeLifecycle, BadParametersAreRejectedNamingTheParameter) {
  // At 44100 Hz with an advance of 441 there are 100 frames per second.
  struct Case {
    int rate, advance, min_bpm, max_bpm;
    const char *expected;
  };
  const Case cases[] = {
      {0, 441, 60, 200, "\"SAMPLING_RATE\" must be above 0"},
      {44100, -512, 60, 200, "\"ADVANCE\" must be above 0"},
      {44100, 441, 0, 200, "\"MIN_BPM\" must be above 0"},
      {44100, 441, 1, 1, "\"MAX_BPM\" must be above 1"},
      {44100, 441, 60, 60, "\"MAX_BPM\" (60) must be above \"MIN_BPM\" (60)"},
      // 60 to 61 BPM gives the range 100 to 100.
      {44100, 441, 60, 61, "fewer than two beat intervals"},
      // 2000 BPM: intervals of 4 frames.
      {44100, 441, 60, 2000, "at least 5"},
      // 1 BPM: 6000 frames, beyond the histories.
      {44100, 441, 1, 200, "\"MIN_BPM\" is too slow"},
      // 7 to 11 BPM: intervals 600 to 858 frames, from which the tracker
      // could step to multiples beyond what its histories hold.
      {44100, 441, 7, 11, "\"MAX_BPM\" is too slow"},
  };
  testing::internal::CaptureStdout();
  for (const Case &c : cases) {
    NodeParams p;
    p.rate = c.rate;
    p.advance = c.advance;
    p.min_bpm = c.min_bpm;
    p.max_bpm = c.max_bpm;
    expectRejected(p, c.expected);
  }
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(std::filesystem::exists(dir / "bt_pellanbt.dat"))
      << "a rejected node must not truncate the beat log";
}

TEST_F(NodeLifecycle, InitializeRaisesEveryMarginAboveTheLargest) {
  testing::internal::CaptureStdout();
  InspectableBeatTracker node("beat", NodeParams().set());
  FrameSource source(quietFrames(512, 257));
  source.feed(node);
  node.slot(1).aheadMargin = 3;
  node.slot(4).behindMargin = 7;
  node.initialize();
  for (int id = 0; id < 6; ++id) {
    EXPECT_EQ(node.slot(id).aheadMargin, 4) << "output " << id;
    EXPECT_EQ(node.slot(id).behindMargin, 8) << "output " << id;
    ASSERT_NE(node.slot(id).buffer, nullptr);
    EXPECT_GE(node.slot(id).buffer->getCapacity(), 13);
  }
  testing::internal::GetCapturedStdout();
}

// The first AUDIO frame sets the window: its columns give the samples, half
// of them (rounded down) the magnitudes, one more the spectrum bins, and the
// canceller is sized to it.
TEST_F(NodeLifecycle, FirstFrameSizesTheWindowsAndTheCanceller) {
  testing::internal::CaptureStdout();
  for (int window : {512, 513}) {
    InspectableBeatTracker node("beat", NodeParams().set());
    FrameSource source(quietFrames(window, 257));
    source.feed(node);
    node.initialize();
    EXPECT_EQ(node.canceller(), nullptr) << "nothing is built before frame 0";
    node.getOutput(0, 0);
    EXPECT_EQ(node.samples(), static_cast<std::size_t>(window));
    EXPECT_EQ(node.magnitudes(), 256u);
    EXPECT_EQ(node.bins(), 257u);
    ASSERT_NE(node.canceller(), nullptr);
    std::vector<double> magnitude(257);
    EXPECT_EQ(node.canceller()->ExecuteVoiceCancel(std::vector<FftComplex>(257, FftComplex(0, 0)),
                                                   std::vector<FftComplex>(257, FftComplex(1, 0)),
                                                   magnitude),
              0);
    std::vector<double> short_magnitude(256);
    EXPECT_EQ(node.canceller()->ExecuteVoiceCancel(std::vector<FftComplex>(256, FftComplex(0, 0)),
                                                   std::vector<FftComplex>(256, FftComplex(1, 0)),
                                                   short_magnitude),
              -1);
  }
  testing::internal::GetCapturedStdout();
}

TEST_F(NodeLifecycle, FramesAreComputedInOrderAndOnce) {
  testing::internal::CaptureStdout();
  BeatTracker node("beat", NodeParams().set());
  FrameSource source(quietFrames(512, 257));
  source.feed(node);
  node.initialize();

  ObjectRef tempo = node.getOutput(node.getOutputID("TEMPO"), 3);
  EXPECT_EQ(source.computed, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(tempo.isNil());

  ObjectRef confidence = node.getOutput(node.getOutputID("CONFIDENCE"), 3);
  ObjectRef again = node.getOutput(node.getOutputID("CONFIDENCE"), 3);
  EXPECT_EQ(source.computed.size(), 4u) << "a computed frame runs nothing";
  EXPECT_EQ(confidence.get(), again.get());
  const std::string out = testing::internal::GetCapturedStdout();

  // Start-up runs once, before the engine's own lines.
  const auto start = out.find("BeatTracker::count0Initialize\n"
                              "BeatTracker::realTimeBeatTrackerInitialize\n"
                              "DEBUG10031100\n"
                              "beat_tracking initialize ended\n");
  EXPECT_NE(start, std::string::npos) << out;
  EXPECT_EQ(out.find("count0Initialize", start + 30), std::string::npos);
}

// Frame shapes per frame number; anything not listed is well formed.
struct Shape {
  int audio_columns = 512;
  int spectrum_rows = 1;
  int spectrum_columns = 257;
};

FrameSource::Maker shaped(std::map<int, Shape> odd) {
  return [odd](int count, FrameSource::Audio &audio, FrameSource::Spectrum &spectrum) {
    const auto it = odd.find(count);
    const Shape shape = it == odd.end() ? Shape() : it->second;
    audio.resize(2, shape.audio_columns);
    spectrum.resize(shape.spectrum_rows, shape.spectrum_columns);
  };
}

TEST_F(NodeLifecycle, MalformedFramesRaiseAndTheNodeRecovers) {
  testing::internal::CaptureStdout();
  BeatTracker node("beat", NodeParams().set());
  const int beat_id = node.getOutputID("BEAT_DETECTED");
  std::vector<std::unique_ptr<FrameSource> > sources;
  // Each attempt reads from a new source, as a host would after mending
  // its input; the node must not have changed on a refused frame.
  auto expectFrame = [&](int frame, std::map<int, Shape> odd, const std::string &error) {
    sources.push_back(std::make_unique<FrameSource>(shaped(odd)));
    sources.back()->feed(node);
    if (!node.isInitialized()) node.initialize();
    try {
      node.getOutput(beat_id, frame);
      EXPECT_TRUE(error.empty()) << "frame " << frame << " was accepted, expected: " << error;
    } catch (BaseException *e) {
      const std::string message = printed(e);
      EXPECT_FALSE(error.empty()) << message;
      EXPECT_NE(message.find(error), std::string::npos) << message;
      EXPECT_NE(message.find("src/BeatTracker:689"), std::string::npos) << message;
      EXPECT_NE(message.find("Exception caught in BufferedNode::getOutput"), std::string::npos);
      delete e;
    }
  };

  expectFrame(0, {{0, {1, 1, 1}}}, "needs at least 2");
  expectFrame(0, {{0, {256, 1, 129}}}, "\"ADVANCE\" (441) is larger than the analysis window (256");
  expectFrame(0, {{0, {512, 1, 258}}}, "258 columns, not the 257 bins of a 512-sample window");
  expectFrame(1, {}, "");
  expectFrame(2, {{2, {300, 1, 257}}}, "300 columns, fewer than the analysis window of 512");
  expectFrame(2, {{2, {512, 0, 257}}}, "FFTAUDIO matrix has no rows");
  expectFrame(2, {{2, {512, 1, 300}}}, "300 columns, not the 257 bins");
  expectFrame(2, {{2, {512, 1, 100}}}, "100 columns, not the 257 bins");
  // A wider AUDIO frame is within bounds: its first columns are read.
  expectFrame(3, {{3, {600, 1, 257}}}, "");
  const std::string out = testing::internal::GetCapturedStdout();
  const auto first = out.find("BeatTracker::count0Initialize");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(out.find("BeatTracker::count0Initialize", first + 1), std::string::npos)
      << "refused frames must not build a second engine";
}

// The bar-pointer node: a parameter out of its range is refused with a
// GeneralException naming it (a tempo range the tracker cannot use at the
// frame rate names every parameter that sets it, and the tracker's own
// reason); a value of the wrong type raises the host's CastException.
TEST_F(NodeLifecycle, BarPointerNodeRejectsBadParametersNamingThem) {
  auto i = [](int v) { return ObjectRef(NetCType<int>::alloc(v)); };
  auto f = [](float v) { return ObjectRef(NetCType<float>::alloc(v)); };
  auto word = [](const char *v) { return ObjectRef(String::alloc(v)); };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char *name;
    ObjectRef value;
    const char *expected;  // empty: a CastException
    const char *also;
  };
  // 100 frames per second, 60 to 200 BPM: beat intervals of 30 to 100 frames.
  const Case cases[] = {
      {"RELIABILITY-THRESHOLD", f(1.5f), "\"RELIABILITY-THRESHOLD\" must be 0 to 1", ""},
      {"RELIABILITY-THRESHOLD", f(nan), "\"RELIABILITY-THRESHOLD\" must be 0 to 1", ""},
      {"SAMPLING_RATE", i(0), "\"SAMPLING_RATE\" must be above 0 Hz", ""},
      {"SAMPLING_RATE", i(500), "\"SAMPLING_RATE\" 500,", "sample_rate"},
      {"ADVANCE", i(0), "\"ADVANCE\" must be 1 to 1048576 samples", ""},
      {"ADVANCE", i(2000000), "\"ADVANCE\" must be 1 to 1048576 samples", ""},
      {"MIN_BPM", i(-60), "\"MIN_BPM\" must be above 0", ""},
      {"MAX_BPM", i(60), "\"MAX_BPM\" (60) must be above \"MIN_BPM\" (60)", ""},
      {"MIN_BPM", i(1), "\"MIN_BPM\" 1, \"MAX_BPM\" 200", "min_bpm"},
      {"ANNOUNCE_AHEAD", i(-1), "\"ANNOUNCE_AHEAD\" must be 0 frames or more", ""},
      {"ANNOUNCE_AHEAD", i(30), "\"ANNOUNCE_AHEAD\" 30 give no usable tracker", "announce_ahead"},
      {"COMPRESSION", f(-1.0f), "\"COMPRESSION\" must be a finite number, 0 or more", ""},
      {"COMPRESSION", f(inf), "\"COMPRESSION\" must be a finite number, 0 or more", ""},
      {"TRANSITION_LAMBDA", f(-0.5f), "\"TRANSITION_LAMBDA\" must be a finite number, 0 or more", ""},
      {"OBSERVATION_LAMBDA", f(1.0f), "\"OBSERVATION_LAMBDA\" must be a finite number above 1", ""},
      {"ACTIVATION", word("spectral"), "\"ACTIVATION\" must be \"flux\" or \"learned\", got \"spectral\"", ""},
      {"ADVANCE", f(441.0f), "", ""},
      {"VECTOR_FLAG", i(1), "", ""},
      {"LOG_FLAG", f(0.0f), "", ""},
      {"ANNOUNCE_AHEAD", f(3.0f), "", ""},
      {"COMPRESSION", i(10), "", ""},
      {"OBSERVATION_LAMBDA", TrueObject, "", ""},
      {"ACTIVATION", i(1), "", ""},
  };
  for (const Case &c : cases) {
    ParameterSet params = NodeParams().set();
    params.add(c.name, c.value);
    std::ostringstream value;
    value << c.value;
    const std::string what = c.name + (" " + value.str());
    try {
      BarPointerTracker node("beat", params);
      ADD_FAILURE() << what << " was accepted";
    } catch (BaseException *e) {
      const std::string message = printed(e);
      if (*c.expected == '\0') {
        EXPECT_NE(dynamic_cast<CastException *>(e), nullptr) << what << ": " << message;
      } else {
        EXPECT_NE(dynamic_cast<GeneralException *>(e), nullptr) << what << ": " << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << what << ": " << message;
        EXPECT_NE(message.find(c.also), std::string::npos) << what << ": " << message;
      }
      delete e;
    }
  }
  // Its own parameters are optional; in range they are taken.
  ParameterSet params = NodeParams().set();
  params.add("ANNOUNCE_AHEAD", i(29));
  params.add("COMPRESSION", f(0.0f));
  params.add("TRANSITION_LAMBDA", f(0.0f));
  params.add("OBSERVATION_LAMBDA", f(1.5f));
  params.add("RELIABILITY-THRESHOLD", f(1.0f));
  EXPECT_NO_THROW(BarPointerTracker("beat", params));
  for (const char *activation : {"flux", "learned"}) {
    params.add("ACTIVATION", word(activation));
    EXPECT_NO_THROW(BarPointerTracker("beat", params)) << activation;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "the node writes no files";
}

// The bar-pointer node refuses malformed frames, and spectra holding NaN or
// infinity, with a host exception naming the frame, and changes nothing: its
// results afterwards are those of a node that never saw the bad frames.
TEST_F(NodeLifecycle, BarPointerNodeRefusesBadFramesAndChangesNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Frame `odd` gets `shape` and, if not 0, `poison` in one bin.
  const Shape good{2048, 1, 1025};
  auto frames = [good](int odd, Shape shape, float poison) -> FrameSource::Maker {
    return [=](int count, FrameSource::Audio &audio, FrameSource::Spectrum &spectrum) {
      const Shape s = count == odd ? shape : good;
      audio.resize(1, s.audio_columns);
      spectrum.resize(s.spectrum_rows, s.spectrum_columns);
      const float level = count % 25 == 0 ? 1.0f : 0.01f;
      for (int r = 0; r < s.spectrum_rows; ++r)
        for (int j = 0; j < s.spectrum_columns; ++j) spectrum(r, j) = {level, 0.0f};
      if (count == odd && poison != 0.0f) spectrum(0, 10) = {0.5f, poison};
    };
  };
  BarPointerTracker node("beat", NodeParams().set());
  const int confidence_id = node.getOutputID("CONFIDENCE");
  std::vector<std::unique_ptr<FrameSource> > sources;
  auto expectFrame = [&](int frame, Shape shape, float poison, const std::string &error) {
    sources.push_back(std::make_unique<FrameSource>(frames(frame, shape, poison)));
    sources.back()->feed(node);
    if (!node.isInitialized()) node.initialize();
    try {
      node.getOutput(confidence_id, frame);
      EXPECT_TRUE(error.empty()) << "frame " << frame << " was accepted, expected: " << error;
    } catch (BaseException *e) {
      const std::string message = printed(e);
      EXPECT_FALSE(error.empty()) << message;
      EXPECT_NE(message.find(error), std::string::npos) << message;
      EXPECT_NE(message.find("Exception caught in BufferedNode::getOutput"), std::string::npos);
      delete e;
    }
  };
  expectFrame(0, {256, 1, 129}, 0, "\"ADVANCE\" (441) is larger than the analysis window (256");
  expectFrame(0, {2048, 1, 1024}, 0, "1024 columns, not the 1025 bins of a 2048-sample window");
  expectFrame(0, {2048, 0, 1025}, 0, "frame 0: the FFTAUDIO matrix has no rows");
  expectFrame(0, {2048, 1, 1025}, nan, "frame 0: the FFTAUDIO spectrum is refused");
  expectFrame(1, good, 0, "");
  expectFrame(2, {1000, 1, 1025}, 0, "1000 columns, fewer than the analysis window of 2048");
  expectFrame(2, {2048, 1, 513}, 0, "frame 2: the FFTAUDIO matrix has 513 columns");
  expectFrame(2, {2048, 1, 1025}, inf, "frame 2: the FFTAUDIO spectrum is refused");
  expectFrame(2, {2048, 1, 1025}, -inf, "frame 2: the FFTAUDIO spectrum is refused");
  // A wider AUDIO frame is within bounds: only its width is checked.
  expectFrame(3, {4096, 1, 1025}, 0, "");
  expectFrame(60, good, 0, "");

  BarPointerTracker untouched("beat", NodeParams().set());
  FrameSource clean(frames(-1, good, 0.0f));
  clean.feed(untouched);
  untouched.initialize();
  EXPECT_EQ(dereference_cast<float>(node.getOutput(confidence_id, 60)),
            dereference_cast<float>(untouched.getOutput(confidence_id, 60)));

  // A window the tracker cannot use is refused on frame 0, when it is known.
  NodeParams small;
  small.advance = 32;
  BarPointerTracker tiny("beat", small.set());
  FrameSource source(quietFrames(32, 17));
  source.feed(tiny);
  tiny.initialize();
  try {
    tiny.getOutput(confidence_id, 0);
    ADD_FAILURE() << "a window of 32 samples was accepted";
  } catch (BaseException *e) {
    EXPECT_NE(printed(e).find("frame 0: cannot build the tracker for a window of 32 samples"),
              std::string::npos)
        << printed(e);
    delete e;
  }
}
