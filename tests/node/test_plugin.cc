// Loads the built plug-in as a host does and runs a network through it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <utility>
#include <vector>

#include "FrameSource.h"
#include "NodeFixture.h"
#include "tesk/NodeFactory.h"
#include "tesk/Object.h"

using namespace TESK;

namespace {

void *loadPlugin() {
  static void *handle = dlopen(TESK_MUSIC_PLUGIN, RTLD_NOW | RTLD_GLOBAL);
  return handle;
}

// Clicks every 50 frames (120 BPM at 100 frames per second), window 512.
void clickFrames(int count, FrameSource::Audio &audio, FrameSource::Spectrum &spectrum) {
  audio.resize(1, 512);
  spectrum.resize(1, 257);
  const float level = count % 50 == 0 ? 1.0f : 0.01f;
  for (int j = 0; j < 257; ++j) spectrum(0, j) = {level, 0.0f};
}

}  // namespace

class Plugin : public InTempDir {};

TEST_F(Plugin, LoadingRegistersTheNodeTypeAndTheModuleVersion) {
  ASSERT_NE(loadPlugin(), nullptr) << dlerror();
  for (const char *type : {"BeatTracker", "BarPointerTracker"}) {
    NodeFactoryBase *factory = Node::getFactoryNamed(type);
    ASSERT_NE(factory, nullptr) << type;
    EXPECT_EQ(factory->getName(), type);
  }
  const auto version = Object::getModuleVersion("ZEDEDAZUV");
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(version->revision, "9156");
  EXPECT_EQ(version->version, "3.0.3");
}

TEST_F(Plugin, ExportsTheSeparationFunctionsUnmangled) {
  void *handle = loadPlugin();
  ASSERT_NE(handle, nullptr) << dlerror();
  for (const char *name : {"new_FD_ICA", "cancel_FD_ICA", "delete_FD_ICA", "new_SemiBlind",
                           "separate_SemiBlind", "delete_SemiBlind", "calloc2dim"})
    EXPECT_NE(dlsym(handle, name), nullptr) << name;
}

TEST_F(Plugin, BeatTrackerFromTheFactoryTracksBeats) {
  ASSERT_NE(loadPlugin(), nullptr) << dlerror();
  NodeParams params;
  params.threshold = 0.3f;
  testing::internal::CaptureStdout();
  {
    RCPtr<Node> node(Node::getFactoryNamed("BeatTracker")->Create("beat", params.set()));
    // Clicks every 50 frames (120 BPM at 100 frames per second).
    FrameSource source(clickFrames);
    source.feed(*node);
    node->initialize();
    int reliable = 0;
    for (int i = 0; i < 1200; ++i) {
      const float tempo = dereference_cast<float>(node->getOutputNamed("TEMPO", i));
      if (tempo != 0.0f) {
        EXPECT_EQ(tempo, 120.0f);
        ++reliable;
      }
    }
    EXPECT_GT(reliable, 5);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("BeatTracker::BeatTracker\n", 0), 0u);
  EXPECT_NE(out.find("BeatTracker::~BeatTracker\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "bt_pellanbt.dat"));
}

// The same network with the node type swapped by name: after a few seconds
// to settle, its confident beats have the clicks' tempo.
TEST_F(Plugin, BarPointerTrackerFromTheFactoryTracksBeats) {
  ASSERT_NE(loadPlugin(), nullptr) << dlerror();
  std::vector<std::pair<int, float> > reliable;  // frame, tempo
  testing::internal::CaptureStdout();
  {
    RCPtr<Node> node(
        Node::getFactoryNamed("BarPointerTracker")->Create("beat", NodeParams().set()));
    FrameSource source(clickFrames);
    source.feed(*node);
    node->initialize();
    for (int i = 0; i < 1200; ++i) {
      const float tempo = dereference_cast<float>(node->getOutputNamed("TEMPO", i));
      if (tempo != 0.0f && i >= 300) reliable.emplace_back(i, tempo);
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "the node prints nothing";
  EXPECT_GE(reliable.size(), 15u);
  for (const auto &beat : reliable) EXPECT_NEAR(beat.second, 120.0f, 1.2f) << "frame " << beat.first;
}
