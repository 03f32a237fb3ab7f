#include "track_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "audio_input.h"
#include "bar_pointer/ViterbiDecoder.h"
#include "beat_time.h"
#include "click_writer.h"
#include "exit_status.h"
#include "framer.h"
#include "network.h"
#include "progress.h"
#include "resampler.h"
#include "settings.h"
#include "silence_gate.h"
#include "writers.h"

namespace tesk_beat {

namespace {

void complain(const std::string& message) { std::fprintf(stderr, "tesk-beat: %s\n", message.c_str()); }

}  // namespace

int trackInput(const InputJob& job, const Options& o, std::FILE* out, bool labelled, bool block) {
  auto writer = makeWriter(o.format, out, labelled);
  StreamInfo info;
  info.input = job.label;
  Summary summary;
  bool begun = false;
  int status = kExitOk;
  std::vector<float> tempi;

  std::unique_ptr<AudioInput> input;
  std::unique_ptr<ClickWriter> clicks;
  try {
    input = std::make_unique<AudioInput>(job.path, o.raw ? &*o.raw : nullptr, job.label);
    info.sample_rate = input->sampleRate();
    info.channels = input->channels();
    const int analysis_rate = analysisRate(o, input->sampleRate());
    const bool resample = analysis_rate != input->sampleRate();
    TrackerSettings settings = trackerSettings(o, analysis_rate, input->channels(), job.label);
    // The offline decoder reads each frame's onset feature from the node.
    if (o.offline) settings.vectors = true;
    info.analysis_rate = analysis_rate;
    info.window = settings.window;
    info.advance = settings.advance;
    const double rate = analysis_rate;
    const double input_rate = input->sampleRate();

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
                                             job.clicks_path);
    }
    std::unique_ptr<Resampler> resampler;
    if (resample)
      resampler = std::make_unique<Resampler>(*input, analysis_rate, [&](const float* f, int64_t n) {
        if (clicks) clicks->push(f, n);
      });
    SampleSource& source = resampler ? static_cast<SampleSource&>(*resampler) : *input;
    Framer framer(source, settings.window, settings.advance);
    BeatNetwork network(settings, framer);
    std::unique_ptr<bar_pointer::ViterbiDecoder> decoder;
    if (o.offline) decoder = std::make_unique<bar_pointer::ViterbiDecoder>(barPointerSettings(settings));
    SilenceGate gate(o.silence_gate, int64_t(std::ceil(rate / settings.advance)));
    Progress progress(job.label, input->announcedFrames(), input->sampleRate(), o.progress && !o.verbose);

    writer->begin(info);
    begun = true;
    auto report = [&](BeatEvent& b) {
      if (b.reliable) {
        ++summary.reliable;
        if (std::isfinite(b.tempo)) tempi.push_back(b.tempo);
      }
      ++summary.beats;
      const int64_t position = std::llround(b.time * input_rate);
      if (clicks) clicks->click(position, b.reliable);
      if (!job.clicks_path.empty() && o.offline) offline_clicks.push_back({position, b.reliable});
      if (o.reliable_only && !b.reliable) return;
      writer->beat(b);
    };
    // Decoded beats come in time order; the gate judges each by the frame
    // it falls on.
    auto reportDecoded = [&]() {
      for (const bar_pointer::DecodedBeat& d : decoder->takeBeats()) {
        const bool silent = gate.wasSilent(d.frame);
        gate.forgetBefore(d.frame);
        if (silent) continue;
        BeatEvent b;
        b.frame = d.frame;
        b.time = decodedBeatTime(settings, d.frame) + o.offset;
        b.reliable = d.confidence >= double(settings.threshold);
        b.tempo = b.reliable ? float(d.tempo) : 0.0f;
        b.confidence = float(d.confidence);
        report(b);
      }
    };

    FrameResult r;
    while (network.step(r)) {
      if (clicks && !resampler) clicks->push(framer.newSamples().data(), framer.newFrames());
      ++summary.frames;
      progress.update(input->framesRead());
      const int64_t k = framer.frameIndex();
      gate.frame(k, framer.newSamples().data(), framer.newFrames() * framer.channels());
      if (decoder) {
        if (r.onset.size() != 1)
          throw NodeError("frame " + std::to_string(k) + " came without its onset feature");
        decoder->push(r.onset[0]);
        reportDecoded();
        continue;
      }
      gate.forgetBefore(k);
      if (!r.beat || gate.silent(k)) continue;
      BeatEvent b;
      b.frame = k;
      b.time = announcedBeatTime(settings, k, r.beat_ahead) + o.offset;
      b.reliable = r.tempo != 0.0f;
      b.tempo = r.tempo;
      b.confidence = r.confidence;
      if (o.vectors) {
        b.onset = std::move(r.onset);
        b.stpm = std::move(r.stpm);
        b.chroma = std::move(r.chroma);
      }
      report(b);
    }
    if (decoder) {
      decoder->finish();
      reportDecoded();
    }
    progress.clear();
    summary.duration = double(input->framesRead()) / input_rate;
    if (input->framesRead() == 0) throw InputError(job.label + ": contains no audio samples");
    if (input->truncated()) {
      summary.truncated = true;
      status = kExitTruncated;
      char why[160];
      std::snprintf(why, sizeof why, "input truncated after %.3f s", summary.duration);
      if (input->announcedFrames() > 0)
        std::snprintf(why, sizeof why, "input truncated after %.3f s of the %.3f s announced",
                      summary.duration, double(input->announcedFrames()) / input_rate);
      complain(job.label + ": " + why + "; beats up to its end were reported");
    }
    if (!job.clicks_path.empty() && o.offline) {
      AudioInput again(job.path, o.raw ? &*o.raw : nullptr, job.label);
      clicks = std::make_unique<ClickWriter>(job.clicks_temp, again.sampleRate(), again.channels(),
                                             0, job.clicks_path);
      writeWithClicks(again, *clicks, offline_clicks);
    }
    if (clicks) {
      clicks->finish();
      clicks.reset();
      if (std::rename(job.clicks_temp.c_str(), job.clicks_path.c_str()) != 0)
        throw OutputError(job.clicks_path + ": cannot write clicks");
    }
  } catch (const InputError& e) {
    summary.error = e.what();
    status = kExitInputFailed;
  } catch (const OutputError& e) {
    summary.error = e.what();
    status = kExitSetup;
  } catch (const NodeError& e) {
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
  if (!summary.error.empty()) {
    complain(summary.error);
    clicks.reset();
    if (!job.clicks_temp.empty()) std::remove(job.clicks_temp.c_str());
  }
  if (input) summary.duration = double(input->framesRead()) / std::max(1, input->sampleRate());
  summary.median_tempo = medianReliableTempo(tempi);
  if (!begun && block) {
    writer->begin(info);
    begun = true;
  }
  if (begun) writer->end(summary);
  std::fflush(out);
  return status;
}

}  // namespace tesk_beat
