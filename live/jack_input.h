// The JACK client of live mode: audio input ports (and a reference port)
// whose samples the process callback copies into a ring for the worker,
// and a MIDI output port on which it plays the beats the worker sends back
// (a note per beat, MIDI beat clock). The callback never allocates, locks,
// waits or does I/O: when the ring is full, the period is dropped and
// counted.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "beat_notes.h"
#include "midi_clock.h"
#include "midi_events.h"
#include "sample_blocks.h"
#include "spsc_ring.h"

namespace tesk_live {

// The server or a port refused; the message says which and why.
struct JackError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct JackConfig {
  std::string client_name = "tesk-beat";
  int channels = 1;         // audio input ports "in_1", "in_2"
  bool reference = false;   // a "reference" input port, carried as the last sample of each frame
  bool midi_notes = false;  // a note per beat on "midi_out"
  bool midi_clock = false;  // MIDI beat clock on "midi_out"
  NoteSettings notes;       // length 0 = 50 ms
  double ring_seconds = 2.0;  // of samples the worker may fall behind before periods are dropped
  // The JACK library's own messages ("Cannot connect to server socket",
  // ...) on standard error; without, the client's errors say it in one line.
  bool library_messages = false;
};

// A beat for the MIDI output, on the JACK timeline.
struct BeatMessage {
  int64_t frame = 0;
  float tempo = 0.0f;
  float confidence = 0.0f;
  bool reliable = false;
  int beat_in_bar = 0;  // 1 = a downbeat; 0 = no bar known
};

class JackInput {
 public:
  // Opens the client (never starting a server) and registers its ports.
  explicit JackInput(const JackConfig& config);
  ~JackInput();
  JackInput(const JackInput&) = delete;
  JackInput& operator=(const JackInput&) = delete;

  int sampleRate() const { return rate_; }
  const std::string& clientName() const { return name_; }
  // Samples per frame in the ring: the channels, then the reference.
  int width() const { return width_; }
  bool hasReference() const { return config_.reference; }

  void activate();
  // Connects `source` to input port `port` (0-based), or to the reference port.
  void connectInput(int port, const std::string& source);
  void connectReference(const std::string& source);
  // Full name of the MIDI output port ("" without one).
  std::string midiPortName() const;

  // The worker's side.
  SpscRing& samples() { return *samples_; }
  // Waits until the callback has written a period, at most `seconds`.
  void waitForSamples(double seconds);
  // False when the event ring is full (the beat's MIDI is lost).
  bool sendBeat(const BeatMessage& beat);

  // Frames dropped because the ring was full.
  int64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
  // The server shut down or kicked the client out (its reason, if any).
  bool shutDown() const { return shut_down_.load(); }
  std::string shutdownReason() const;
  // The server's rate changed under the client (0 if not).
  int changedRate() const { return changed_rate_.load(); }

  // Sends the clock's Stop and ends the sounding note in the next period
  // (waiting at most `seconds` for it), then deactivates and closes.
  void close(double seconds = 0.5);

 private:
  static int onProcess(jack_nframes_t frames, void* self);
  static int onSampleRate(jack_nframes_t rate, void* self);
  static void onShutdown(jack_status_t code, const char* reason, void* self);
  void process(jack_nframes_t frames);
  void playMidi(int64_t start, jack_nframes_t frames);

  JackConfig config_;
  jack_client_t* client_ = nullptr;
  std::string name_;
  int rate_ = 0;
  int width_ = 1;
  std::vector<jack_port_t*> inputs_;  // the channels, then the reference
  jack_port_t* midi_out_ = nullptr;
  bool active_ = false;

  std::unique_ptr<SpscRing> samples_;
  std::unique_ptr<SpscRing> beats_;
  std::vector<float> interleaved_;  // one period, sized once
  sem_t wake_;

  // The callback's own state.
  int64_t frame_high_ = 0;   // the JACK frame time unwrapped
  uint32_t last_frame_ = 0;
  bool first_period_ = true;
  MidiClock clock_{48000};
  BeatNotes notes_{NoteSettings{}};
  MidiEventList events_;

  std::atomic<int64_t> dropped_{0};
  std::atomic<bool> stop_midi_{false};
  std::atomic<int> periods_after_stop_{0};  // the first sends Stop and note-off
  std::atomic<bool> shut_down_{false};
  std::atomic<int> changed_rate_{0};
  char shutdown_reason_[256] = {0};
};

}  // namespace tesk_live
