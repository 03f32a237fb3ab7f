#include "tesk-music/pipeline/tracker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "bar_pointer/ViterbiDecoder.h"
#include "bar_pointer_settings.h"
#include "beat_time.h"
#include "framer.h"
#include "network.h"
#include "tesk-music/pipeline/plugin.h"
#include "resampler.h"
#include "sample_queue.h"
#include "silence_gate.h"

namespace tesk_pipeline {

struct Tracker::State {
  State(const Settings& given, const TrackerSettings& s, int input_rate, int channels)
      : options(given),
        settings(s),
        queue(s.sample_rate, channels),
        framer(queue, s.window, s.advance),
        // Beats count once a beat period of the slowest tempo has been heard.
        gate(given.silence_gate, int64_t(s.sample_rate), s.advance,
             int64_t(std::ceil(60.0 * s.sample_rate / s.min_bpm))) {
    if (s.sample_rate != input_rate) resampler.emplace(input_rate, s.sample_rate, channels);
    if (given.offline) decoder.emplace(barPointerSettings(s));
  }

  Settings options;
  TrackerSettings settings;  // as the network runs (offline: with vectors)
  SampleQueue queue;
  Framer framer;
  SilenceGate gate;
  std::optional<Resampler> resampler;
  std::optional<bar_pointer::ViterbiDecoder> decoder;
  std::unique_ptr<BeatNetwork> network;
  int64_t network_start = 0;  // the frame that is the node's frame 0
  std::vector<float> resampled;
  std::vector<float> onsets;  // with frame_onsets, not yet taken
  int64_t frames = 0;
  bool finished = false;

  // Whether the queue holds the next frame's new samples (all of what is
  // left once the stream has ended).
  bool frameReady() const {
    const int64_t wanted = frames == 0 ? settings.window : settings.advance;
    return queue.closed() ? queue.queuedFrames() > 0 : queue.queuedFrames() >= wanted;
  }
  void run(std::vector<Beat>& beats);
  void takeDecoded(std::vector<Beat>& beats);
};

// Decoded beats come in time order; the gate judges each by the second
// before the frame it falls on.
void Tracker::State::takeDecoded(std::vector<Beat>& beats) {
  for (const bar_pointer::DecodedBeat& d : decoder->takeBeats()) {
    const double time = decodedBeatTime(settings, d.frame);
    const int64_t at = std::llround(time * settings.sample_rate);
    const bool silent = gate.silentAt(at);
    gate.forgetBefore(at);
    if (silent) continue;
    Beat b;
    b.frame = d.frame;
    b.time = time + options.offset;
    b.reliable = d.confidence >= double(settings.threshold);
    b.tempo = b.reliable ? float(d.tempo) : 0.0f;
    b.confidence = float(d.confidence);
    beats.push_back(std::move(b));
  }
}

void Tracker::State::run(std::vector<Beat>& beats) {
  const double rate = settings.sample_rate;
  FrameResult r;
  const int64_t limit = options.node_frame_limit > 0 ? options.node_frame_limit
                                                     : int64_t(std::numeric_limits<int>::max());
  while (frameReady()) {
    if (frames - network_start >= limit) {
      network.reset();  // one node at a time
      network = std::make_unique<BeatNetwork>(settings, framer, frames);
      network_start = frames;
    }
    if (!network->step(r)) break;
    ++frames;
    // Frame k's new samples follow the previous frame's window.
    const int64_t k = framer.frameIndex();
    const int64_t heard_end = k * settings.advance + settings.window;
    gate.heard(k == 0 ? 0 : heard_end - settings.advance, framer.newSamples().data(),
               framer.newFrames(), framer.channels());
    if (options.frame_onsets) {
      float strength = 0.0f;
      for (float v : r.onset) strength += v;
      onsets.push_back(strength);
    }
    if (decoder) {
      if (r.onset.size() != 1)
        throw NodeError("frame " + std::to_string(k) + " came without its onset feature");
      decoder->push(r.onset[0]);
      takeDecoded(beats);
      continue;
    }
    // Later beats fall on this frame's window or after it.
    gate.forgetBefore(k * settings.advance);
    if (!r.beat) continue;
    // The gate judges the second before the beat's time as far as it was
    // heard: a bar-pointer beat may be predicted a little ahead.
    const double time = announcedBeatTime(settings, k, r.beat_ahead);
    if (gate.silentAt(std::min<int64_t>(std::llround(time * rate), heard_end))) continue;
    Beat b;
    b.frame = k;
    b.time = time + options.offset;
    b.reliable = r.tempo != 0.0f;
    b.tempo = r.tempo;
    b.confidence = r.confidence;
    if (options.vectors) {
      b.onset = std::move(r.onset);
      b.stpm = std::move(r.stpm);
      b.chroma = std::move(r.chroma);
    }
    beats.push_back(std::move(b));
  }
}

Tracker::Tracker(const Settings& given, int sample_rate, int channels) {
  if (const std::string problem = settingsProblem(given); !problem.empty())
    throw SettingsError(problem);
  TrackerSettings s = trackerSettings(given, analysisRate(given, sample_rate), channels);
  // The offline decoder reads each frame's onset feature from the node.
  if (given.offline || given.frame_onsets) s.vectors = true;
  loadPlugin(given.plugin_path);
  state_ = std::make_unique<State>(given, s, sample_rate, channels);
  state_->network = std::make_unique<BeatNetwork>(s, state_->framer);
}

Tracker::~Tracker() = default;

const TrackerSettings& Tracker::settings() const { return state_->settings; }

int64_t Tracker::frames() const { return state_->frames; }

std::vector<float> Tracker::takeOnsets() {
  std::vector<float> taken;
  taken.swap(state_->onsets);
  return taken;
}

std::vector<Beat> Tracker::process(const float* samples, int64_t frames) {
  State& st = *state_;
  if (st.finished) throw std::logic_error("Tracker::process after finish()");
  std::vector<Beat> beats;
  if (st.resampler) {
    st.resampled.clear();
    st.resampler->push(samples, frames, st.resampled);
    st.queue.push(st.resampled.data(), int64_t(st.resampled.size()) / st.queue.channels());
  } else {
    st.queue.push(samples, frames);
  }
  st.run(beats);
  return beats;
}

std::vector<Beat> Tracker::finish() {
  State& st = *state_;
  std::vector<Beat> beats;
  if (st.finished) return beats;
  st.finished = true;
  if (st.resampler) {
    st.resampled.clear();
    st.resampler->finish(st.resampled);
    st.queue.push(st.resampled.data(), int64_t(st.resampled.size()) / st.queue.channels());
  }
  st.queue.close();
  st.run(beats);
  if (st.decoder) {
    st.decoder->finish();
    st.takeDecoded(beats);
  }
  return beats;
}

}  // namespace tesk_pipeline
