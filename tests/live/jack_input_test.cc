// The JACK input and the worker on a private server: periods the callback
// cannot store while the worker is held are dropped, counted, reported to
// the worker as a gap and tracked as silence.
#include "jack_input.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "live_worker.h"

using namespace tesk_live;

TEST(JackInput, PeriodsDroppedWhileTheWorkerIsHeldAreCountedAsGaps) {
  JackConfig config;
  config.client_name = "drop-test";
  config.ring_seconds = 0.05;
  JackInput input(config);
  ASSERT_EQ(input.sampleRate(), 48000);
  std::vector<int64_t> gaps;
  int64_t reported_total = 0;
  tesk_pipeline::Settings settings;
  settings.plugin_path = TESK_PLUGIN;
  LiveWorker worker(input, settings, nullptr, [&](int64_t frames, int64_t total) {
    gaps.push_back(frames);
    reported_total = total;
  });
  input.activate();

  // Nothing reads: past the ring's room, whole periods are dropped.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (input.dropped() < 9600 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(input.dropped(), 9600) << "no period dropped in 10 s";
  EXPECT_EQ(input.dropped() % 256, 0) << "whole periods";

  // Released, the worker finds the gap and counts it into the stream.
  worker.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  input.close();
  worker.stop();
  EXPECT_FALSE(worker.failed()) << worker.error();
  ASSERT_EQ(gaps.size(), 1u) << "one stretch dropped, nothing after the worker ran";
  EXPECT_EQ(gaps[0], input.dropped());
  EXPECT_EQ(reported_total, input.dropped());
  // The stream holds the dropped frames: about 0.3 s more than were kept.
  EXPECT_GT(worker.frames(), input.dropped() + 48000 / 5);
  // ... and the tracker analysed them (frames of 441 samples at 44.1 kHz).
  EXPECT_NEAR(double(worker.trackerFrames()), double(worker.frames()) * 44100 / 48000 / 441, 8);
}
