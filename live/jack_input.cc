#include "jack_input.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace tesk_live {

namespace {

// The largest period a client sees; longer ones are dropped whole.
constexpr jack_nframes_t kMaxPeriod = 8192;
constexpr size_t kBeatRingRecords = 256;

std::string statusText(jack_status_t status) {
  if (status & JackServerFailed) return "no JACK server is running (or it cannot be reached)";
  if (status & JackNameNotUnique) return "the client name is taken";
  if (status & JackVersionError) return "the server speaks another protocol version";
  if (status & JackShmFailure) return "no access to the server's shared memory";
  if (status & JackInvalidOption) return "an invalid option";
  return "the server refused the client";
}

}  // namespace

JackInput::JackInput(const JackConfig& config) : config_(config) {
  if (!config.library_messages) {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  }
  jack_status_t status{};
  client_ = jack_client_open(config.client_name.c_str(), JackNoStartServer, &status);
  if (!client_) throw JackError("cannot open JACK client '" + config.client_name + "': " + statusText(status));
  name_ = jack_get_client_name(client_);
  rate_ = int(jack_get_sample_rate(client_));
  width_ = config.channels + (config.reference ? 1 : 0);

  auto registerPort = [&](const std::string& name, const char* type, unsigned long flags) {
    jack_port_t* p = jack_port_register(client_, name.c_str(), type, flags, 0);
    if (!p) {
      jack_client_close(client_);
      throw JackError("cannot register JACK port '" + name_ + ":" + name + "'");
    }
    return p;
  };
  for (int c = 0; c < config.channels; ++c)
    inputs_.push_back(registerPort("in_" + std::to_string(c + 1), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput));
  if (config.reference) inputs_.push_back(registerPort("reference", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput));
  if (config.midi_notes || config.midi_clock)
    midi_out_ = registerPort("midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);

  const size_t ring_frames = size_t(std::ceil(std::max(0.0, config.ring_seconds) * rate_));
  samples_ = std::make_unique<SpscRing>(ring_frames * size_t(width_) * sizeof(float) +
                                        sizeof(BlockHeader));
  beats_ = std::make_unique<SpscRing>(kBeatRingRecords * sizeof(BeatMessage));
  interleaved_.assign(size_t(kMaxPeriod) * size_t(width_), 0.0f);
  sem_init(&wake_, 0, 0);

  clock_ = MidiClock(rate_);
  NoteSettings notes = config.notes;
  if (notes.length <= 0) notes.length = std::max<int64_t>(1, std::llround(0.05 * rate_));
  notes_ = BeatNotes(notes);

  jack_set_process_callback(client_, &JackInput::onProcess, this);
  jack_set_sample_rate_callback(client_, &JackInput::onSampleRate, this);
  jack_on_info_shutdown(client_, &JackInput::onShutdown, this);
}

JackInput::~JackInput() {
  close(0.0);
  sem_destroy(&wake_);
}

void JackInput::activate() {
  if (jack_activate(client_) != 0) throw JackError("cannot activate JACK client '" + name_ + "'");
  active_ = true;
}

void JackInput::connectInput(int port, const std::string& source) {
  const int rc = jack_connect(client_, source.c_str(), jack_port_name(inputs_.at(size_t(port))));
  if (rc != 0 && rc != EEXIST)
    throw JackError("cannot connect '" + source + "' to '" + jack_port_name(inputs_[size_t(port)]) +
                    "' (no such output port?)");
}

void JackInput::connectReference(const std::string& source) {
  if (!config_.reference) throw JackError("the client has no reference port");
  connectInput(config_.channels, source);
}

std::string JackInput::midiPortName() const { return midi_out_ ? jack_port_name(midi_out_) : ""; }

void JackInput::waitForSamples(double seconds) {
  timespec until{};
  clock_gettime(CLOCK_REALTIME, &until);
  const long nanos = long(seconds * 1e9);
  until.tv_sec += (until.tv_nsec + nanos) / 1000000000L;
  until.tv_nsec = (until.tv_nsec + nanos) % 1000000000L;
  while (sem_timedwait(&wake_, &until) != 0 && errno == EINTR) {
  }
}

bool JackInput::sendBeat(const BeatMessage& beat) { return beats_->write(&beat, sizeof beat); }

std::string JackInput::shutdownReason() const {
  return shut_down_.load() ? std::string(shutdown_reason_) : std::string();
}

void JackInput::close(double seconds) {
  if (!client_) return;
  if (active_ && !shut_down_.load()) {
    // The callback sends Stop and note-off itself, so they are in time order.
    stop_midi_.store(true);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    // The Stop's period must also reach the clients after this one (JACK2
    // hands on outputs a cycle later in its default asynchronous mode).
    while (midi_out_ && periods_after_stop_.load() < 3 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    jack_deactivate(client_);
  }
  jack_client_close(client_);
  client_ = nullptr;
  active_ = false;
}

int JackInput::onProcess(jack_nframes_t frames, void* self) {
  static_cast<JackInput*>(self)->process(frames);
  return 0;
}

int JackInput::onSampleRate(jack_nframes_t rate, void* self) {
  auto* me = static_cast<JackInput*>(self);
  if (int(rate) != me->rate_) me->changed_rate_.store(int(rate));
  return 0;
}

void JackInput::onShutdown(jack_status_t, const char* reason, void* self) {
  auto* me = static_cast<JackInput*>(self);
  if (reason) std::strncpy(me->shutdown_reason_, reason, sizeof me->shutdown_reason_ - 1);
  me->shut_down_.store(true);
  sem_post(&me->wake_);
}

void JackInput::process(jack_nframes_t frames) {
  // JACK's frame time wraps at 2^32; the timeline here does not.
  const uint32_t now = jack_last_frame_time(client_);
  if (!first_period_ && now < last_frame_) frame_high_ += int64_t(1) << 32;
  first_period_ = false;
  last_frame_ = now;
  const int64_t start = frame_high_ + now;

  if (frames <= kMaxPeriod) {
    for (size_t c = 0; c < inputs_.size(); ++c) {
      const auto* in = static_cast<const float*>(jack_port_get_buffer(inputs_[c], frames));
      for (jack_nframes_t i = 0; i < frames; ++i) interleaved_[i * size_t(width_) + c] = in[i];
    }
    const BlockHeader header{start, frames, uint32_t(width_),
                             dropped_.load(std::memory_order_relaxed)};
    if (!samples_->write(&header, sizeof header, interleaved_.data(),
                         size_t(frames) * size_t(width_) * sizeof(float)))
      dropped_.fetch_add(frames, std::memory_order_relaxed);
  } else {
    dropped_.fetch_add(frames, std::memory_order_relaxed);
  }
  sem_post(&wake_);

  if (midi_out_) playMidi(start, frames);
}

void JackInput::playMidi(int64_t start, jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(midi_out_, frames);
  jack_midi_clear_buffer(buffer);
  events_.clear();
  BeatMessage beat;
  while (beats_->read(&beat, sizeof beat)) {
    if (config_.midi_notes) notes_.add(beat.frame, beat.confidence, beat.beat_in_bar);
    // The clock follows only the beats the tracker trusts.
    if (config_.midi_clock && beat.reliable) clock_.beat(beat.frame, beat.tempo, beat.beat_in_bar);
  }
  if (stop_midi_.load()) {
    if (periods_after_stop_.load() == 0) {
      clock_.stop(events_);
      notes_.silence(events_);
    }
    periods_after_stop_.fetch_add(1);
  } else {
    clock_.render(start, frames, events_);
    notes_.render(start, frames, events_);
  }
  for (int i = 0; i < events_.size(); ++i) {
    const MidiEvent& e = events_[i];
    jack_midi_event_write(buffer, std::min<jack_nframes_t>(e.offset, frames - 1), e.bytes, e.size);
  }
}

}  // namespace tesk_live
