#include "live_worker.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <exception>

namespace tesk_live {

namespace {

double clockSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Silence stands in for dropped frames in pieces of this size.
constexpr int64_t kSilenceChunk = 4096;

}  // namespace

LiveWorker::LiveWorker(JackInput& input, const tesk_pipeline::Settings& settings,
                       BeatHandler on_beat, DropHandler on_drop)
    : input_(input),
      on_beat_(std::move(on_beat)),
      on_drop_(std::move(on_drop)),
      reader_(input.samples()),
      channels_(input.width() - (input.hasReference() ? 1 : 0)) {
  tracker_ = std::make_unique<tesk_pipeline::Tracker>(settings, input.sampleRate(), channels_);
}

LiveWorker::~LiveWorker() {
  if (thread_.joinable()) {
    stopping_.store(true);
    thread_.join();
  }
}

void LiveWorker::start() { thread_ = std::thread([this] { run(); }); }

void LiveWorker::stop() {
  stopping_.store(true);
  if (thread_.joinable()) thread_.join();
}

void LiveWorker::run() {
  const double cpu0 = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
  const double wall0 = clockSeconds(CLOCK_MONOTONIC);
  try {
    while (!stopping_.load() && !input_.shutDown()) {
      input_.waitForSamples(0.05);
      drain();
    }
    drain();
    report(tracker_->finish());
  } catch (const std::exception& e) {
    error_ = e.what();
    failed_.store(true);
  }
  cpu_seconds_ = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
  wall_seconds_ = clockSeconds(CLOCK_MONOTONIC) - wall0;
}

void LiveWorker::drain() {
  BlockHeader header;
  int64_t gap = 0, dropped = 0;
  while (reader_.next(block_, header, gap, dropped)) {
    if (dropped > 0) {
      dropped_ += dropped;
      if (on_drop_) on_drop_(dropped, dropped_);
    }
    if (gap > 0) {
      audio_.assign(size_t(kSilenceChunk) * size_t(channels_), 0.0f);
      reference_.assign(size_t(kSilenceChunk), 0.0f);
      for (int64_t done = 0; done < gap; done += kSilenceChunk)
        track(audio_.data(), reference_.data(), std::min(kSilenceChunk, gap - done));
    }
    // The ring's frames carry the channels, then the reference.
    const size_t width = header.width;
    audio_.resize(size_t(header.frames) * size_t(channels_));
    reference_.resize(header.frames);
    for (size_t i = 0; i < header.frames; ++i) {
      std::copy_n(&block_[i * width], channels_, &audio_[i * size_t(channels_)]);
      reference_[i] = width > size_t(channels_) ? block_[i * width + size_t(channels_)] : 0.0f;
    }
    track(audio_.data(), reference_.data(), header.frames);
  }
}

void LiveWorker::track(const float* audio, const float* reference, int64_t frames) {
  frames_ += frames;
  report(input_.hasReference() ? tracker_->process(audio, reference, frames)
                               : tracker_->process(audio, frames));
}

void LiveWorker::report(const std::vector<tesk_pipeline::Beat>& beats) {
  const double rate = input_.sampleRate();
  for (const tesk_pipeline::Beat& b : beats) {
    const int64_t frame = reader_.startFrame() + std::llround(b.time * rate);
    input_.sendBeat(BeatMessage{frame, b.tempo, b.confidence, b.reliable, b.beat_in_bar});
    if (on_beat_) on_beat_(b, frame);
  }
}

}  // namespace tesk_live
