// The worker thread of live mode: takes the periods out of the JACK
// input's ring, runs the tracker on them at the server's rate and hands
// each announced beat to the front end and, mapped onto JACK frames, to
// the MIDI output. Frames missing from the JACK timeline (dropped by the
// callback, or skipped by the server) are tracked as silence, so the
// stream's time stays the timeline's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "jack_input.h"
#include "tesk-music/pipeline/settings.h"
#include "tesk-music/pipeline/tracker.h"

namespace tesk_live {

class LiveWorker {
 public:
  // `frame`: the beat's time on the JACK timeline.
  using BeatHandler = std::function<void(const tesk_pipeline::Beat& beat, int64_t frame)>;
  // `frames` dropped just now; `total` so far.
  using DropHandler = std::function<void(int64_t frames, int64_t total)>;

  // Builds the tracker for the input's rate and channels (throws as
  // tesk_pipeline::Tracker does).
  LiveWorker(JackInput& input, const tesk_pipeline::Settings& settings, BeatHandler on_beat,
             DropHandler on_drop);
  ~LiveWorker();

  void start();
  // Tracks what is left in the ring, then the tracker's last frames, and
  // joins the thread.
  void stop();

  // The worker stopped on an error (its message), "" if not.
  bool failed() const { return failed_.load(); }
  const std::string& error() const { return error_; }

  const tesk_pipeline::TrackerSettings& trackerSettings() const { return tracker_->settings(); }
  // Frames of the stream so far, dropped ones included.
  int64_t frames() const { return frames_; }
  int64_t trackerFrames() const { return tracker_->frames(); }
  // CPU time of the worker thread and the wall time it ran.
  double cpuSeconds() const { return cpu_seconds_; }
  double wallSeconds() const { return wall_seconds_; }

 private:
  void run();
  void drain();
  void track(const float* audio, const float* reference, int64_t frames);
  void report(const std::vector<tesk_pipeline::Beat>& beats);

  JackInput& input_;
  std::unique_ptr<tesk_pipeline::Tracker> tracker_;
  BeatHandler on_beat_;
  DropHandler on_drop_;
  BlockReader reader_;
  int channels_;
  std::vector<float> block_, audio_, reference_;
  int64_t frames_ = 0;
  int64_t dropped_ = 0;

  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> failed_{false};
  std::string error_;
  double cpu_seconds_ = 0.0;
  double wall_seconds_ = 0.0;
};

}  // namespace tesk_live
