// Arbitrary bytes as an audio file, through the path tesk-beat runs them on:
// the tool's reader (libsndfile opening a file, as for any input), the
// resampler above 16 kHz, framing, the spectrum node and the plug-in's
// "BeatTracker" node, connected through the host layer as the tool connects
// them, with the tool's default settings at the file's rate. The bytes live
// in a memory file, so the reader sees a regular file of any format.
//
// A file may be refused, with an exception that says why (the reader's
// InputError, another std::exception, or a host exception); anything else
// is a fault: a crash, a sanitizer report, another exception, an empty
// message, a hang, or outputs out of their range.
//
// The node writes its beat log into the working directory: run the target
// in a scratch directory (scripts/fuzz.sh does).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "BeatTracker.h"
#include "audio_input.h"
#include "framer.h"
#include "resampler.h"
#include "sample_queue.h"
#include "source_nodes.h"
#include "tesk-music/pipeline/settings.h"
#include "tesk/Exception.h"
#include "tesk/NetCType.h"
#include "tesk/NodeFactory.h"

namespace {

// The tool's defaults for the "BeatTracker" node.
constexpr int kAnalysisRate = 16000;
constexpr int kMinBpm = 79;
constexpr int kMaxBpm = 160;
constexpr float kThreshold = 0.5f;
constexpr double kCompress = 10.0;
// Thirty seconds of frames at the default advance: enough for the beat
// search to run many times, and a bound on the time per input whatever the
// decoders make of a few bytes.
constexpr int kMaxFrames = 3000;

const int registered =
    TESK::Node::addFactory("BeatTracker", new TESK::NodeFactory<BeatTracker>("BeatTracker"));

// The bytes as a regular file, named by a path any reader can open.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("fuzz-input", MFD_CLOEXEC)) {
    if (fd_ < 0) __builtin_trap();
    for (size_t done = 0; done < size;) {
      const ssize_t n = write(fd_, data + done, size - done);
      if (n <= 0) __builtin_trap();
      done += size_t(n);
    }
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

template <class T>
TESK::ObjectRef boxed(T value) {
  return TESK::ObjectRef(TESK::NetCType<T>::alloc(value));
}

void track(const std::string& path) {
  tesk_beat::AudioInput input(path, nullptr, "fuzz input");
  // The input is read in blocks and pushed, resampled, into the queue the
  // framer reads, as the pipeline does.
  std::unique_ptr<tesk_pipeline::Resampler> resampler;
  if (input.sampleRate() > kAnalysisRate)
    resampler = std::make_unique<tesk_pipeline::Resampler>(input.sampleRate(), kAnalysisRate,
                                                           input.channels());
  // Rates the tool refuses still reach the node here: a host may give it any.
  const int rate = resampler ? kAnalysisRate : input.sampleRate();
  const int advance = int(std::lround(0.010 * rate));
  const int window = tesk_pipeline::fftFriendlySize(std::max(2, int(std::lround(0.032 * rate))));
  tesk_pipeline::SampleQueue queue(rate, input.channels());
  std::vector<float> block(512 * size_t(input.channels())), resampled;
  // Reads until the queue holds `frames` frames or the input has ended.
  auto fill = [&](int64_t frames) {
    while (!queue.closed() && queue.queuedFrames() < frames) {
      const int64_t got = input.read(block.data(), 512);
      resampled.clear();
      if (got == 0) {
        if (resampler) resampler->finish(resampled);
        queue.close();
      } else if (resampler) {
        resampler->push(block.data(), got, resampled);
      } else {
        resampled.assign(block.begin(), block.begin() + got * input.channels());
      }
      queue.push(resampled.data(), int64_t(resampled.size()) / input.channels());
    }
  };

  TESK::ParameterSet params;
  params.add("RELIABILITY-THRESHOLD", boxed(kThreshold));
  params.add("ADVANCE", boxed(advance));
  params.add("SAMPLING_RATE", boxed(rate));
  params.add("MIN_BPM", boxed(kMinBpm));
  params.add("MAX_BPM", boxed(kMaxBpm));
  params.add("VECTOR_FLAG", boxed(true));
  params.add("LOG_FLAG", boxed(false));
  // Declared upstream first, so destroyed downstream first.
  tesk_pipeline::Framer framer(queue, window, std::max(advance, 1));
  TESK::RCPtr<tesk_pipeline::AudioSourceNode> audio(
      new tesk_pipeline::AudioSourceNode("source", framer));
  TESK::RCPtr<tesk_pipeline::StftNode> spectrum(
      new tesk_pipeline::StftNode("spectrum", window, kCompress));
  TESK::RCPtr<TESK::Node> tracker(
      TESK::Node::getFactoryNamed("BeatTracker")->Create("tracker", params));
  if (advance < 1) __builtin_trap();  // the node must have refused it
  spectrum->connectToNode("AUDIO", audio.get(), "AUDIO");
  tracker->connectToNode("AUDIO", audio.get(), "AUDIO");
  tracker->connectToNode("FFTAUDIO", spectrum.get(), "FFTAUDIO");
  const int beat_id = tracker->getOutputID("BEAT_DETECTED");
  const int tempo_id = tracker->getOutputID("TEMPO");
  const int confidence_id = tracker->getOutputID("CONFIDENCE");
  tracker->initialize();

  for (int frame = 0; frame < kMaxFrames; ++frame) {
    fill(frame == 0 ? window : std::max(advance, 1));
    if (!framer.next()) break;
    const bool beat = TESK::dereference_cast<bool>(tracker->getOutput(beat_id, frame));
    const float tempo = TESK::dereference_cast<float>(tracker->getOutput(tempo_id, frame));
    const float confidence = TESK::dereference_cast<float>(tracker->getOutput(confidence_id, frame));
    // The tempo of a reliable beat, else 0; the confidence is a share of frames.
    if (!(tempo == 0.0f || (beat && tempo > 0.0f && std::isfinite(tempo)))) __builtin_trap();
    if (!(confidence >= 0.0f && confidence <= 1.0f)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)registered;
  MemoryFile file(data, size);
  try {
    track(file.path());
  } catch (TESK::BaseException* e) {
    const bool said = !e->message().empty();
    delete e;
    if (!said) __builtin_trap();
  } catch (const std::exception& e) {
    // InputError, a resampler that cannot be set up, ...
    if (std::string(e.what()).empty()) __builtin_trap();
  }
  return 0;
}
