#include "live_run.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "exit_status.h"
#include "interruption.h"
#include "jack_input.h"
#include "live_worker.h"
#include "messages.h"
#include "osc_sender.h"
#include "tesk-music/pipeline/settings.h"
#include "work_dir.h"
#include "writers.h"

namespace tesk_beat {

namespace {

tesk_live::JackConfig jackConfig(const Options& o) {
  tesk_live::JackConfig c;
  c.client_name = o.jack_name;
  c.channels = o.jack_ports;
  c.library_messages = o.verbose;
  // Live, --reference names the JACK port that carries the known signal.
  c.reference = o.cancel_reference;
  c.midi_notes = o.midi_out;
  c.midi_clock = o.midi_clock;
  c.notes.note = o.midi_note.value_or(c.notes.note);
  c.notes.downbeat_note = o.midi_downbeat_note.value_or(c.notes.downbeat_note);
  c.notes.channel = o.midi_channel.value_or(c.notes.channel);
  c.notes.velocity = o.midi_velocity.value_or(c.notes.velocity);
  return c;
}

// Set-up failed before the client was opened; the error is in the summary.
struct Abandoned {};

std::string seconds(int64_t frames, int rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%lld frames (%.3f s)", (long long)frames,
                double(frames) / std::max(1, rate));
  return text;
}

}  // namespace

int runLive(const Options& o, int data_fd) {
  catchInterruptions(false);
  std::FILE* out = ::fdopen(data_fd, "w");
  if (!out) {
    complain("standard output: " + std::string(std::strerror(errno)));
    return kExitSetup;
  }
  auto writer = makeWriter(o.format, out, false);
  StreamInfo info;
  info.input = "jack:" + o.jack_name;
  Summary summary;
  std::vector<float> tempi;
  int status = kExitOk;
  bool begun = false;

  // The stpm node writes its files in the current directory: a private one.
  std::string work_dir, home;
  try {
    work_dir = makePrivateDirectory();
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) home = cwd;
    if (::chdir(work_dir.c_str()) != 0) throw std::runtime_error("cannot enter " + work_dir);
  } catch (const std::runtime_error& e) {
    complain(e.what());
    return kExitSetup;
  }

  std::unique_ptr<tesk_live::JackInput> input;
  std::unique_ptr<tesk_live::LiveWorker> worker;
  std::unique_ptr<OscReceivers> osc;
  try {
    osc = std::make_unique<OscReceivers>(o.osc_urls);
  } catch (const std::runtime_error& e) {
    summary.error = e.what();
    status = kExitSetup;
  }
  try {
    if (!summary.error.empty()) throw Abandoned();
    input = std::make_unique<tesk_live::JackInput>(jackConfig(o));
    const int rate = input->sampleRate();
    const std::string label = "jack:" + input->clientName();  // as the summary names it
    auto on_beat = [&](const BeatEvent& b, int64_t) {
      countAnnounced(summary, tempi, b);
      if (o.reliable_only && !b.reliable) return;
      writer->beat(b);
      ++summary.reported;
      osc->send(b, [&](const std::string& why) { complain(label + ": " + why); });
    };
    auto on_drop = [&, rate](int64_t frames, int64_t total) {
      complain(label + ": dropped " + seconds(frames, rate) +
               " of input: the tracker fell behind (" + std::to_string(total) +
               " frames so far); tracked as silence");
    };
    worker = std::make_unique<tesk_live::LiveWorker>(*input, o, on_beat, on_drop);
    const auto& settings = worker->trackerSettings();
    if (o.verbose) complain(label + ": " + tesk_pipeline::describeSettings(settings, rate, false));
    info.sample_rate = rate;
    info.channels = o.jack_ports;
    info.analysis_rate = settings.sample_rate;
    info.window = settings.window;
    info.advance = settings.advance;
    writer->begin(info);
    begun = true;

    input->activate();
    for (size_t i = 0; i < o.connect.size(); ++i) input->connectInput(int(i), o.connect[i]);
    if (o.cancel_reference) input->connectReference(o.reference_path);
    worker->start();
    while (!interruption() && !input->shutDown() && !input->changedRate() && !worker->failed())
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    worker->stop();
    if (input->shutDown()) {
      const std::string why = input->shutdownReason();
      complain(label + ": the JACK server shut down" + (why.empty() ? "" : " (" + why + ")") +
               "; the beats up to then were reported");
      summary.truncated = true;
      status = kExitTruncated;
    } else if (input->changedRate()) {
      complain(label + ": the JACK server's rate changed from " + std::to_string(rate) + " to " +
               std::to_string(input->changedRate()) +
               " Hz; the tracker runs at one rate, so tracking stopped");
      summary.truncated = true;
      status = kExitTruncated;
    }
    if (worker->failed()) {
      summary.error = label + ": " + worker->error();
      status = kExitInputFailed;
    }
    input->close();
    summary.frames = worker->trackerFrames();
    summary.duration = double(worker->frames()) / rate;
    if (input->dropped() > 0)
      complain(label + ": " + seconds(input->dropped(), rate) +
               " of input dropped in all (the tracker fell behind)");
    if (o.verbose) {
      char line[160];
      const double wall = worker->wallSeconds();
      std::snprintf(line, sizeof line, "worker CPU: %.2f %% of one core (%.3f s in %.1f s)",
                    wall > 0 ? 100.0 * worker->cpuSeconds() / wall : 0.0, worker->cpuSeconds(),
                    wall);
      complain(label + ": " + line);
    }
  } catch (const Abandoned&) {
  } catch (const tesk_live::JackError& e) {
    summary.error = e.what();
    status = kExitInputFailed;
  } catch (const tesk_pipeline::SettingsError& e) {
    summary.error = "jack:" + o.jack_name + ": " + e.what();
    status = kExitInputFailed;
  } catch (const tesk_pipeline::NodeError& e) {
    summary.error = "jack:" + o.jack_name + ": the tracker rejected the settings: " + e.what();
    status = kExitInputFailed;
  }
  if (worker) worker->stop();
  worker.reset();
  input.reset();
  if (!home.empty() && ::chdir(home.c_str()) != 0) {
  }
  removeTree(work_dir);

  if (!summary.error.empty()) complain(summary.error);
  if (osc && osc->failed()) status = worseStatus(status, kExitSetup);
  summary.median_tempo = medianReliableTempo(tempi);
  if (!begun) writer->begin(info);
  writer->end(summary);
  if (writer->error()) {
    complain("standard output: " + std::string(std::strerror(writer->error())));
    status = worseStatus(status, kExitSetup);
  }
  std::fclose(out);
  return status;
}

}  // namespace tesk_beat
