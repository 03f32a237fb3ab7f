#include "track_input.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "audio_input.h"
#include "click_writer.h"
#include "exit_status.h"
#include "input_settings.h"
#include "interruption.h"
#include "messages.h"
#include "osc_sender.h"
#include "progress.h"
#include "tesk-music/pipeline/reference_signal.h"
#include "tesk-music/pipeline/tracker.h"
#include "writers.h"

namespace tesk_beat {

namespace {

struct Interrupted {};

// Read in small blocks: clicks are written a little more than a window
// behind the newest input, and a live stream must not wait long.
constexpr int64_t kReadFrames = 512;

}  // namespace

int trackInput(const InputJob& job, const Options& o, const ReferenceAudio* reference,
               std::FILE* out, bool labelled, bool block) {
  auto writer = makeWriter(o.format, out, labelled);
  StreamInfo info;
  info.input = job.path == "-" ? "-" : job.label;  // as given on the command line
  Summary summary;
  bool begun = false;
  int status = kExitOk;
  std::vector<float> tempi;

  std::unique_ptr<AudioInput> input;
  std::unique_ptr<ClickWriter> clicks;
  std::unique_ptr<OscReceivers> osc;
  try {
    input = std::make_unique<AudioInput>(job.path, o.raw ? &*o.raw : nullptr, job.label);
    info.sample_rate = input->sampleRate();
    info.channels = input->channels();
    const int analysis_rate = analysisRate(o, input->sampleRate());
    TrackerSettings settings = trackerSettings(o, analysis_rate, input->channels(), job.label);
    info.analysis_rate = analysis_rate;
    info.window = settings.window;
    info.advance = settings.advance;
    const double rate = analysis_rate;
    const double input_rate = input->sampleRate();
    // Before the node's own console lines, which follow.
    if (o.verbose)
      complain(job.label + ": " + describeSettings(settings, input->sampleRate(), o.offline));
    // The reference at the input's rate, zero-padded past its end.
    std::vector<float> cancelled;
    if (reference) {
      cancelled = tesk_pipeline::monoAtRate(reference->mono.data(), int64_t(reference->mono.size()),
                                            1, reference->sample_rate, input->sampleRate());
      if (o.verbose) {
        char what[200];
        std::snprintf(what, sizeof what, "%.3f s, %d Hz, %d channel%s",
                      double(reference->mono.size()) / reference->sample_rate,
                      reference->sample_rate, reference->channels,
                      reference->channels == 1 ? "" : "s mixed down");
        complain(job.label + ": cancelling " + reference->name + " (" + what + ")" +
                 (reference->sample_rate == input->sampleRate()
                      ? std::string()
                      : ", resampled to " + std::to_string(input->sampleRate()) + " Hz"));
      }
    }
    std::vector<float> reference_block;

    // Online beats fall at most a window (plus the offset) behind the newest
    // analysed sample, so the click track is written as the input is read;
    // offline beats can be final long after their audio, so their clicks
    // are mixed in on a second reading of the input.
    std::vector<PlacedClick> offline_clicks;
    if (!job.clicks_path.empty() && !o.offline) {
      // The resampler holds back a little more than a window.
      double lag = (settings.window + settings.advance) / rate + std::fabs(o.offset) + 0.5;
      clicks = std::make_unique<ClickWriter>(job.clicks_temp, input->sampleRate(),
                                             input->channels(), int64_t(std::ceil(lag * input_rate)),
                                             job.clicks_name, input->format());
    }
    tesk_pipeline::Tracker tracker(o, input->sampleRate(), input->channels());
    try {
      osc = std::make_unique<OscReceivers>(o.osc_urls);
    } catch (const std::runtime_error& e) {
      throw OutputError(e.what());
    }
    if (job.progress) {
      job.progress->rate = input->sampleRate();
      job.progress->total = input->announcedFrames();
    }

    writer->begin(info);
    begun = true;
    auto report = [&](std::vector<BeatEvent> beats) {
      for (BeatEvent& b : beats) {
        countAnnounced(summary, tempi, b);
        const int64_t position = std::llround(b.time * input_rate);
        if (clicks) clicks->click(position, b.reliable);
        if (!job.clicks_path.empty() && o.offline) offline_clicks.push_back({position, b.reliable});
        if (o.reliable_only && !b.reliable) continue;
        writer->beat(b);
        ++summary.reported;
        osc->send(b, [&](const std::string& why) { complain(job.label + ": " + why); });
      }
    };

    std::vector<float> block(size_t(kReadFrames) * size_t(input->channels()));
    while (!interruption()) {
      const int64_t got = input->read(block.data(), kReadFrames);
      if (got == 0) break;
      if (clicks) clicks->push(block.data(), got);
      if (reference) {
        const int64_t at = input->framesRead() - got;
        reference_block.assign(size_t(got), 0.0f);
        if (at < int64_t(cancelled.size()))
          std::copy_n(cancelled.begin() + at, std::min<int64_t>(got, int64_t(cancelled.size()) - at),
                      reference_block.begin());
        report(tracker.process(block.data(), reference_block.data(), got));
      } else {
        report(tracker.process(block.data(), got));
      }
      if (job.progress) job.progress->done = input->framesRead();
    }
    // Also when interrupted: the beats of what was read are reported.
    report(tracker.finish());
    summary.frames = tracker.frames();
    summary.duration = double(input->framesRead()) / input_rate;
    if (interruption()) throw Interrupted();
    if (input->framesRead() == 0) throw InputError(job.label + ": contains no audio samples");
    if (reference && o.verbose && int64_t(cancelled.size()) != input->framesRead()) {
      const double by = std::fabs(double(int64_t(cancelled.size()) - input->framesRead())) / input_rate;
      char why[512];
      std::snprintf(why, sizeof why, int64_t(cancelled.size()) < input->framesRead()
                                         ? "%s ended %.3f s before the input: silence after it"
                                         : "%s ran %.3f s past the input's end: the rest was ignored",
                    reference->name.c_str(), by);
      complain(job.label + ": " + why);
    }
    if (input->truncated()) {
      summary.truncated = true;
      status = kExitTruncated;
      char why[160];
      std::snprintf(why, sizeof why, "input truncated after %.3f s", summary.duration);
      if (input->announcedFrames() > input->framesRead())
        std::snprintf(why, sizeof why, "input truncated after %.3f s of the %.3f s announced",
                      summary.duration, double(input->announcedFrames()) / input_rate);
      else if (input->strayBytes() > 0)
        std::snprintf(why, sizeof why, "input truncated after %.3f s: it ends inside a frame "
                      "(%lld byte%s left over)", summary.duration, (long long)input->strayBytes(),
                      input->strayBytes() == 1 ? "" : "s");
      complain(job.label + ": " + why + "; beats up to its end were reported");
    }
    if (!job.clicks_path.empty() && o.offline) {
      AudioInput again(job.path, o.raw ? &*o.raw : nullptr, job.label);
      clicks = std::make_unique<ClickWriter>(job.clicks_temp, again.sampleRate(), again.channels(),
                                             0, job.clicks_name, again.format());
      if (!writeWithClicks(again, *clicks, offline_clicks, [] { return interruption() != 0; }))
        throw Interrupted();
    }
    if (clicks) {
      clicks->finish();
      clicks.reset();
      if (std::rename(job.clicks_temp.c_str(), job.clicks_path.c_str()) != 0)
        throw OutputError(job.clicks_name + ": cannot write clicks (" + std::strerror(errno) + ")");
    }
  } catch (const Interrupted&) {
  } catch (const InputError& e) {
    summary.error = e.what();
    status = kExitInputFailed;
  } catch (const OutputError& e) {
    summary.error = e.what();
    status = kExitSetup;
  } catch (const tesk_pipeline::SettingsError& e) {
    summary.error = job.label + ": " + e.what();
    status = kExitInputFailed;
  } catch (const tesk_pipeline::NodeError& e) {
    summary.error = job.label + ": the tracker rejected the input or settings: " + e.what();
    status = kExitInputFailed;
  } catch (const std::runtime_error& e) {
    summary.error = job.label + ": " + e.what();
    status = kExitInputFailed;
  } catch (const std::invalid_argument& e) {
    summary.error = job.label + ": the offline decoder rejected the settings or a frame: " + e.what();
    status = kExitInputFailed;
  } catch (const std::bad_alloc&) {
    summary.error = job.label + ": out of memory";
    status = kExitInputFailed;
  }
  if (interruption()) {
    // Whatever failed after the signal failed because of it.
    summary.error.clear();
    summary.interrupted = true;
    status = 128 + interruption();
  }
  if (!summary.error.empty()) complain(summary.error);
  if (!summary.error.empty() || summary.interrupted) {
    clicks.reset();
    if (!job.clicks_temp.empty()) std::remove(job.clicks_temp.c_str());
  }
  if (input) summary.duration = double(input->framesRead()) / std::max(1, input->sampleRate());
  summary.median_tempo = medianReliableTempo(tempi);
  // JSON is one document whatever happens: a failed input is an object
  // that carries the error.
  if (!begun && (block || o.format == OutputFormat::kJson)) {
    writer->begin(info);
    begun = true;
  }
  if (begun) writer->end(summary);
  if (osc && osc->failed() && !interruption()) status = worseStatus(status, kExitSetup);
  if (writer->error() && !interruption()) {
    complain(job.output_name + ": " + std::strerror(writer->error()));
    status = worseStatus(status, kExitSetup);
  }
  return status;
}

}  // namespace tesk_beat
