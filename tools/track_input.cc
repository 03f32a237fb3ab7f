#include "track_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "audio_input.h"
#include "click_writer.h"
#include "exit_status.h"
#include "framer.h"
#include "network.h"
#include "progress.h"
#include "settings.h"
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
    TrackerSettings settings =
        trackerSettings(o, input->sampleRate(), input->channels(), job.label);
    info.window = settings.window;
    info.advance = settings.advance;
    const double rate = input->sampleRate();

    Framer framer(*input, settings.window, settings.advance);
    BeatNetwork network(settings, framer);
    if (!job.clicks_path.empty())
      clicks = std::make_unique<ClickWriter>(
          job.clicks_temp, input->sampleRate(), input->channels(),
          settings.window + settings.advance + int64_t(std::ceil(std::fabs(o.offset) * rate)));
    Progress progress(job.label, input->announcedFrames(), input->sampleRate(), o.progress && !o.verbose);

    writer->begin(info);
    begun = true;
    FrameResult r;
    while (network.step(r)) {
      if (clicks) clicks->push(framer.newSamples().data(), framer.newFrames());
      ++summary.frames;
      progress.update(input->framesRead());
      if (!r.beat) continue;
      BeatEvent b;
      b.frame = framer.frameIndex();
      b.time = (double(b.frame) * settings.advance + settings.window / 2.0) / rate + o.offset;
      b.reliable = r.tempo != 0.0f;
      b.tempo = r.tempo;
      b.confidence = r.confidence;
      if (b.reliable) {
        ++summary.reliable;
        if (std::isfinite(b.tempo)) tempi.push_back(b.tempo);
      }
      ++summary.beats;
      if (clicks) clicks->click(int64_t(std::llround(b.time * rate)), b.reliable);
      if (o.reliable_only && !b.reliable) continue;
      if (o.vectors) {
        b.onset = std::move(r.onset);
        b.stpm = std::move(r.stpm);
        b.chroma = std::move(r.chroma);
      }
      writer->beat(b);
    }
    progress.clear();
    summary.duration = double(input->framesRead()) / rate;
    if (input->framesRead() == 0) throw InputError(job.label + ": contains no audio samples");
    if (input->truncated()) {
      summary.truncated = true;
      status = kExitTruncated;
      char why[160];
      std::snprintf(why, sizeof why, "input truncated after %.3f s", summary.duration);
      if (input->announcedFrames() > 0)
        std::snprintf(why, sizeof why, "input truncated after %.3f s of the %.3f s announced",
                      summary.duration, double(input->announcedFrames()) / rate);
      complain(job.label + ": " + why + "; beats up to its end were reported");
    }
    if (clicks) {
      clicks->finish();
      clicks.reset();
      if (std::rename(job.clicks_temp.c_str(), job.clicks_path.c_str()) != 0)
        throw InputError(job.clicks_path + ": cannot write clicks");
    }
  } catch (const InputError& e) {
    summary.error = e.what();
    status = kExitInputFailed;
  } catch (const NodeError& e) {
    summary.error = job.label + ": the tracker rejected the input or settings: " + e.what();
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
