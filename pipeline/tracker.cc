#include "tesk-music/pipeline/tracker.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "bar_pointer/ViterbiDecoder.h"
#include "bar_pointer_settings.h"
#include "beat_tempo.h"
#include "beat_time.h"
#include "framer.h"
#include "network.h"
#include "tesk-music/pipeline/console.h"
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
    if (given.cancel_reference) {
      // Its own resampler of the same ratio delays it as the input's does.
      reference_queue = std::make_unique<SampleQueue>(s.sample_rate, 1);
      reference_framer = std::make_unique<Framer>(*reference_queue, s.window, s.advance);
      if (s.sample_rate != input_rate) reference_resampler.emplace(input_rate, s.sample_rate, 1);
    }
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
  // With cancel_reference: the mono reference, framed as the input.
  std::unique_ptr<SampleQueue> reference_queue;
  std::unique_ptr<Framer> reference_framer;
  std::optional<Resampler> reference_resampler;
  std::vector<float> silence;  // the reference of the two-argument process()
  std::vector<float> onsets;  // with frame_onsets, not yet taken
  int64_t frames = 0;
  bool finished = false;
  bool locked = false;  // see reported()
  // The tempo is fitted through up to this many beats on either side
  // (online, before) of each beat.
  static constexpr size_t kTempoReach = 8;
  // Seconds, of the latest beats the tracker gave, silenced ones too.
  std::deque<double> beat_times;
  // Offline: decoded beats, those before next_decoded already taken (the
  // neighbours of the rest).
  struct Decoded {
    Beat beat;
    bool silent = false;
  };
  std::deque<Decoded> decoded;
  size_t next_decoded = 0;
  std::vector<Beat> unlocked;  // decoded before any lock

  // Whether the queue holds the next frame's new samples (all of what is
  // left once the stream has ended).
  bool frameReady() const {
    const int64_t wanted = frames == 0 ? settings.window : settings.advance;
    if (queue.closed()) return queue.queuedFrames() > 0;
    // Resamplers of one ratio may hand out their samples a little apart.
    return queue.queuedFrames() >= wanted &&
           (!reference_queue || reference_queue->queuedFrames() >= wanted);
  }
  void push(const float* samples, const float* reference, int64_t frames);
  void run(std::vector<Beat>& beats);
  // Offline: moves the beats whose neighbours are decoded (`all`: every
  // beat) into `beats`.
  void takeDecoded(std::vector<Beat>& beats, bool all = false);
  // Whether a beat that passed the silence gate is reported: none before
  // the tracker first locked on, since it announces beats in a tone or
  // noise too, unless unlocked_beats asks for them. The bar-pointer
  // tracker's confidence stays 0 there, while music lifts it to a quarter
  // of the threshold within seconds (some pieces give their first reliable
  // beat only after 20 s); the stpm node's reliability does not tell noise
  // from music, so there it takes a reliable beat.
  bool reported(float confidence) {
    const float level = settings.tracker == TrackerKind::kBarPointer
                            ? 0.25f * settings.threshold : settings.threshold;
    locked = locked || confidence >= level;
    return locked || options.unlocked_beats;
  }
};

// Decoded beats come in time order; the gate judges each by the second
// before the frame it falls on. A beat waits for the beats after it, which
// its tempo is fitted through.
void Tracker::State::takeDecoded(std::vector<Beat>& beats, bool all) {
  for (const bar_pointer::DecodedBeat& d : decoder->takeBeats()) {
    const double time = decodedBeatTime(settings, d.frame);
    const int64_t at = std::llround(time * settings.sample_rate);
    Decoded pending;
    pending.silent = gate.silentAt(at);
    gate.forgetBefore(at);
    Beat& b = pending.beat;
    b.frame = d.frame;
    b.time = time + options.offset;
    b.reliable = d.confidence >= double(settings.threshold);
    b.tempo = float(d.tempo);  // whole frames: for a beat that has no neighbour
    b.confidence = float(d.confidence);
    b.beat_in_bar = d.beat_in_bar;
    decoded.push_back(std::move(pending));
    beat_times.push_back(time);
  }
  for (; next_decoded < decoded.size() && (all || decoded.size() - next_decoded > kTempoReach);
       ++next_decoded) {
    Decoded& d = decoded[next_decoded];
    const double tempo = tempoAround(beat_times, next_decoded, kTempoReach, kTempoReach);
    if (!std::isnan(tempo)) d.beat.tempo = float(tempo);
    if (d.silent) continue;
    // The decoded path is one decision: a lock anywhere on it vouches for
    // the beats before, which wait for it.
    if (!reported(d.beat.confidence)) {
      unlocked.push_back(std::move(d.beat));
      continue;
    }
    for (Beat& b : unlocked) beats.push_back(std::move(b));
    unlocked.clear();
    beats.push_back(std::move(d.beat));
  }
  while (next_decoded > kTempoReach) {
    decoded.pop_front();
    beat_times.pop_front();
    --next_decoded;
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
      network = std::make_unique<BeatNetwork>(settings, framer, reference_framer.get(), frames);
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
      // The flux feature, or the learned beat and downbeat activations.
      if (r.onset.size() == 1)
        decoder->push(r.onset[0]);
      else if (r.onset.size() == 2)
        decoder->pushActivations(r.onset[0], r.onset[1]);
      else
        throw NodeError("frame " + std::to_string(k) + " came without its onset feature");
      takeDecoded(beats);
      continue;
    }
    // Later beats fall on this frame's window or after it.
    gate.forgetBefore(k * settings.advance);
    if (!r.beat) continue;
    const double time = announcedBeatTime(settings, k, r.beat_ahead);
    beat_times.push_back(time);
    if (beat_times.size() > kTempoReach + 1) beat_times.pop_front();
    // The gate judges the second before the beat's time as far as it was
    // heard: a bar-pointer beat may be predicted a little ahead.
    if (gate.silentAt(std::min<int64_t>(std::llround(time * rate), heard_end))) continue;
    if (!reported(r.confidence)) continue;
    Beat b;
    b.frame = k;
    b.time = time + options.offset;
    b.reliable = r.tempo != 0.0f;
    // The bar-pointer node's tempo of a reliable beat lies between frames;
    // the stpm node's is whole frames, which the beats' own times refine
    // where they agree with it (its first beats follow the silence it
    // started in); neither node tells a tempo with a discarded beat: the
    // beats' times tell it then.
    const double fitted = tempoAround(beat_times, beat_times.size() - 1, kTempoReach, 0);
    const bool node_tempo =
        r.tempo != 0.0f && (settings.tracker == TrackerKind::kBarPointer || std::isnan(fitted) ||
                            std::fabs(fitted - r.tempo) > 0.05 * r.tempo);
    b.tempo = node_tempo ? r.tempo
              : std::isnan(fitted) ? std::numeric_limits<float>::quiet_NaN() : float(fitted);
    b.confidence = r.confidence;
    b.beat_in_bar = r.beat_in_bar;
    if (options.vectors) {
      b.onset = std::move(r.onset);
      b.stpm = std::move(r.stpm);
      b.chroma = std::move(r.chroma);
    }
    beats.push_back(std::move(b));
  }
}

// Resampled to the analysis rate (when it differs) and queued.
void pushTo(std::optional<Resampler>& resampler, SampleQueue& queue, const float* samples,
            int64_t frames, std::vector<float>& resampled) {
  if (!resampler) {
    queue.push(samples, frames);
    return;
  }
  resampled.clear();
  resampler->push(samples, frames, resampled);
  queue.push(resampled.data(), int64_t(resampled.size()) / queue.channels());
}

// The resampler's last samples (when there is one) queued.
void finishTo(std::optional<Resampler>& resampler, SampleQueue& queue,
              std::vector<float>& resampled) {
  if (!resampler) return;
  resampled.clear();
  resampler->finish(resampled);
  queue.push(resampled.data(), int64_t(resampled.size()) / queue.channels());
}

void Tracker::State::push(const float* samples, const float* reference, int64_t frames) {
  if (finished) throw std::logic_error("Tracker::process after finish()");
  pushTo(resampler, queue, samples, frames, resampled);
  if (!reference_queue) return;
  if (!reference) {
    silence.assign(size_t(std::max<int64_t>(frames, 0)), 0.0f);
    reference = silence.data();
  }
  pushTo(reference_resampler, *reference_queue, reference, frames, resampled);
}

Tracker::Tracker(const Settings& given, int sample_rate, int channels) {
  ConsoleRoute route(given.console);
  if (const std::string problem = settingsProblem(given); !problem.empty())
    throw SettingsError(problem);
  TrackerSettings s = trackerSettings(given, analysisRate(given, sample_rate), channels);
  // The offline decoder reads each frame's onset feature from the node.
  if (given.offline || given.frame_onsets) s.vectors = true;
  loadPlugin(given.plugin_path);
  state_ = std::make_unique<State>(given, s, sample_rate, channels);
  state_->network =
      std::make_unique<BeatNetwork>(s, state_->framer, state_->reference_framer.get());
}

Tracker::~Tracker() {
  // The node says goodbye.
  ConsoleRoute route(state_ ? state_->options.console : ConsoleLines::kStandardOutput);
  state_.reset();
}

const TrackerSettings& Tracker::settings() const { return state_->settings; }

int64_t Tracker::frames() const { return state_->frames; }

std::vector<float> Tracker::takeOnsets() {
  std::vector<float> taken;
  taken.swap(state_->onsets);
  return taken;
}

std::vector<Beat> Tracker::process(const float* samples, int64_t frames) {
  ConsoleRoute route(state_->options.console);
  std::vector<Beat> beats;
  state_->push(samples, nullptr, frames);
  state_->run(beats);
  return beats;
}

std::vector<Beat> Tracker::process(const float* samples, const float* reference, int64_t frames) {
  if (!state_->options.cancel_reference)
    throw std::logic_error(
        "Tracker::process with a reference needs Settings::cancel_reference");
  ConsoleRoute route(state_->options.console);
  std::vector<Beat> beats;
  state_->push(samples, reference, frames);
  state_->run(beats);
  return beats;
}

std::vector<Beat> Tracker::finish() {
  State& st = *state_;
  std::vector<Beat> beats;
  if (st.finished) return beats;
  ConsoleRoute route(st.options.console);
  st.finished = true;
  finishTo(st.resampler, st.queue, st.resampled);
  st.queue.close();
  if (st.reference_queue) {
    SampleQueue& reference = *st.reference_queue;
    finishTo(st.reference_resampler, reference, st.resampled);
    // Padded to the input's length: every input frame has its reference
    // frame (the framer pads both with zeros after their ends alike).
    const int64_t missing = st.queue.queuedFrames() - reference.queuedFrames();
    if (missing > 0) {
      st.silence.assign(size_t(missing), 0.0f);
      reference.push(st.silence.data(), missing);
    }
    reference.close();
  }
  st.run(beats);
  if (st.decoder) {
    st.decoder->finish();
    st.takeDecoded(beats, true);
  }
  return beats;
}

}  // namespace tesk_pipeline
