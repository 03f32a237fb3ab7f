// live_probe: a JACK client that plays audio into a port (an audio file,
// resampled to the server's rate, or a click track) and records the MIDI
// that comes back, every event with its JACK frame time. What the live
// latency benchmark and the live tests run against tesk-beat --jack.
//
//   live_probe (--audio FILE | --click BPM) --seconds S --play-to PORT
//              [--midi-from PORT] [--lead S] [--tail S] [--interrupt PID]
//
// With --interrupt, PID gets SIGINT once the audio has played, and the
// MIDI is recorded until a MIDI Stop comes (or the tail, 0.5 s by
// default, has passed).
// Prints "rate R", "start F" (the frame of the audio's first sample),
// "click F" per click onset, and "midi F HEX..." per MIDI event received.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <sndfile.h>
#include <signal.h>
#include <soxr.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Received {
  int64_t frame;
  uint8_t size;
  uint8_t bytes[3];
};

struct Probe {
  jack_client_t* client = nullptr;
  jack_port_t* out = nullptr;
  jack_port_t* midi_in = nullptr;
  std::vector<float> audio;  // at the server's rate
  std::atomic<bool> playing{false};
  std::atomic<int64_t> start{-1};
  std::vector<Received> received;  // sized before activation
  std::atomic<size_t> received_count{0};
  std::atomic<bool> stopped{false};  // a MIDI Stop came
};

int process(jack_nframes_t frames, void* arg) {
  auto* p = static_cast<Probe*>(arg);
  const int64_t now = jack_last_frame_time(p->client);
  auto* out = static_cast<float*>(jack_port_get_buffer(p->out, frames));
  std::memset(out, 0, frames * sizeof(float));
  if (p->playing.load()) {
    if (p->start.load() < 0) p->start.store(now);
    // Sample k plays at frame start + k, also when the server skips frames
    // after running late: the clicks stay where "click" lines say they are.
    const int64_t first = now - p->start.load();
    for (jack_nframes_t i = 0; i < frames; ++i) {
      const int64_t k = first + int64_t(i);
      if (k >= 0 && size_t(k) < p->audio.size()) out[i] = p->audio[size_t(k)];
    }
  }
  if (p->midi_in) {
    void* buffer = jack_port_get_buffer(p->midi_in, frames);
    const uint32_t n = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < n; ++i) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, i) != 0) continue;
      const size_t at = p->received_count.load();
      if (at >= p->received.size()) break;
      Received r{now + e.time, uint8_t(e.size < 3 ? e.size : 3), {0, 0, 0}};
      std::memcpy(r.bytes, e.buffer, r.size);
      if (e.size == 1 && e.buffer[0] == 0xFC) p->stopped.store(true);
      p->received[at] = r;
      p->received_count.store(at + 1);
    }
  }
  return 0;
}

std::vector<float> readMono(const char* path, int rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path, SFM_READ, &info);
  if (!f) {
    std::fprintf(stderr, "live_probe: %s: %s\n", path, sf_strerror(nullptr));
    std::exit(1);
  }
  std::vector<float> all(size_t(info.frames) * size_t(info.channels));
  sf_readf_float(f, all.data(), info.frames);
  sf_close(f);
  std::vector<float> mono(size_t(info.frames));
  for (size_t i = 0; i < mono.size(); ++i) {
    float sum = 0;
    for (int c = 0; c < info.channels; ++c) sum += all[i * size_t(info.channels) + size_t(c)];
    mono[i] = sum / float(info.channels);
  }
  if (info.samplerate == rate) return mono;
  std::vector<float> out(size_t(std::ceil(double(mono.size()) * rate / info.samplerate)));
  size_t done = 0;
  soxr_oneshot(info.samplerate, rate, 1, mono.data(), mono.size(), nullptr, out.data(), out.size(),
               &done, nullptr, nullptr, nullptr);
  out.resize(done);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string audio_path, play_to, midi_from;
  double bpm = 0, seconds = 10, lead = 0.5, tail = 0.5;
  pid_t interrupt = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i], v = argv[i + 1];
    if (k == "--audio") audio_path = v;
    else if (k == "--click") bpm = std::atof(v.c_str());
    else if (k == "--seconds") seconds = std::atof(v.c_str());
    else if (k == "--play-to") play_to = v;
    else if (k == "--midi-from") midi_from = v;
    else if (k == "--lead") lead = std::atof(v.c_str());
    else if (k == "--tail") tail = std::atof(v.c_str());
    else if (k == "--interrupt") interrupt = pid_t(std::atol(v.c_str()));
    else {
      std::fprintf(stderr, "live_probe: unknown option %s\n", k.c_str());
      return 2;
    }
  }
  Probe p;
  jack_status_t status{};
  p.client = jack_client_open("live_probe", JackNoStartServer, &status);
  if (!p.client) {
    std::fprintf(stderr, "live_probe: no JACK server (status 0x%x)\n", unsigned(status));
    return 1;
  }
  const int rate = int(jack_get_sample_rate(p.client));
  const size_t length = size_t(seconds * rate);
  std::vector<int64_t> clicks;  // offsets from the start
  if (!audio_path.empty()) {
    p.audio = readMono(audio_path.c_str(), rate);
    if (p.audio.size() > length) p.audio.resize(length);
  } else {
    // A click: 5 ms of decaying noise, every beat from `lead` seconds on.
    p.audio.assign(length, 0.0f);
    uint32_t noise = 12345;
    for (double t = lead; t * rate < double(length); t += 60.0 / bpm) {
      const int64_t at = std::llround(t * rate);
      clicks.push_back(at);
      for (int i = 0; i < rate / 200 && size_t(at + i) < length; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float white = float(noise >> 8) / float(1 << 24) * 2.0f - 1.0f;
        p.audio[size_t(at + i)] = 0.8f * white * std::exp(-float(i) / (rate / 1000.0f));
      }
    }
  }
  p.received.resize(200000);
  p.out = jack_port_register(p.client, "out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  if (!midi_from.empty())
    p.midi_in = jack_port_register(p.client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(p.client, process, &p);
  if (jack_activate(p.client) != 0) return 1;
  if (jack_connect(p.client, jack_port_name(p.out), play_to.c_str()) != 0) {
    std::fprintf(stderr, "live_probe: cannot connect to %s\n", play_to.c_str());
    return 1;
  }
  if (p.midi_in && jack_connect(p.client, midi_from.c_str(), jack_port_name(p.midi_in)) != 0) {
    std::fprintf(stderr, "live_probe: cannot connect from %s\n", midi_from.c_str());
    return 1;
  }
  p.playing.store(true);
  std::this_thread::sleep_for(std::chrono::duration<double>(double(p.audio.size()) / rate));
  if (interrupt > 0) ::kill(interrupt, SIGINT);
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(tail);
  while (std::chrono::steady_clock::now() < until && !(interrupt > 0 && p.stopped.load()))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  jack_deactivate(p.client);
  jack_client_close(p.client);

  std::printf("rate %d\nstart %lld\n", rate, (long long)p.start.load());
  for (int64_t c : clicks) std::printf("click %lld\n", (long long)(p.start.load() + c));
  for (size_t i = 0; i < p.received_count.load(); ++i) {
    const Received& r = p.received[i];
    std::printf("midi %lld", (long long)r.frame);
    for (int b = 0; b < r.size; ++b) std::printf(" %02x", r.bytes[b]);
    std::printf("\n");
  }
  return 0;
}
