#include "BeatTracker.h"

#include <cmath>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "BeatSchedule.h"
#include "FrameShapes.h"
#include "NodeMessages.h"
#include "WindowHelpers.h"
#include "engine/EngineLimits.h"
#include "engine/TrackingSteps.h"
#include "tesk/Exception.h"
#include "tesk/Matrix.h"
#include "tesk/NetCType.h"
#include "tesk/Vector.h"

using namespace TESK;

namespace {

// Fixed analysis layout handed to the start-up record.
const unsigned long kMelBands = 64;
const unsigned long kBandBegin = 1;
const unsigned long kBandEnd = 63;

using node_messages::str;

[[noreturn]] void fail(const std::string &message, int line) {
  node_messages::fail("BeatTracker", message, __FILE__, line);
}

// Copies a feature vector into a new float vector of `size` entries; entries
// beyond a shorter source stay 0.
Vector<float> *floatVector(const std::vector<double> &source, std::size_t size) {
  Vector<float> *vector = Vector<float>::alloc(0);
  vector->resize(size);
  for (std::size_t i = 0; i < size && i < source.size(); ++i)
    (*vector)[i] = static_cast<float>(source[i]);
  return vector;
}

}  // namespace

BeatTracker::BeatTracker(std::string nodeName, ParameterSet params)
    : BufferedNode(nodeName, params),
      last_scheduled_beat(0),
      sampling_freq(0.0),
      window_size(0),
      shift_size(0),
      magnitude_bypass(false) {
  std::cout << "BeatTracker::BeatTracker" << std::endl;

  audio_input_id = addInput("AUDIO");
  fftaudio_input_id = addInput("FFTAUDIO");
  beat_detected_output_id = addOutput("BEAT_DETECTED");
  tempo_output_id = addOutput("TEMPO");
  confidence_output_id = addOutput("CONFIDENCE");
  onset_vector_output_id = addOutput("ONSET_VECTOR");
  stpm_vector_output_id = addOutput("STPM_VECTOR");
  chroma_vector_output_id = addOutput("CHROMA_VECTOR");

  reliability_threshold = dereference_cast<float>(ownParameters.get("RELIABILITY-THRESHOLD"));
  advance = dereference_cast<int>(ownParameters.get("ADVANCE"));
  sampling_rate = dereference_cast<int>(ownParameters.get("SAMPLING_RATE"));
  max_bpm = dereference_cast<int>(ownParameters.get("MAX_BPM"));
  min_bpm = dereference_cast<int>(ownParameters.get("MIN_BPM"));
  vector_flag = dereference_cast<bool>(ownParameters.get("VECTOR_FLAG"));
  log_flag = dereference_cast<bool>(ownParameters.get("LOG_FLAG"));
  // Rejected before the beat log is touched, so a failed construction
  // leaves no trace.
  checkParameters();

  beat_log.open("bt_pellanbt.dat", std::ios::out | std::ios::trunc);
  inOrder = true;
}

BeatTracker::~BeatTracker() {
  std::cout << "BeatTracker::~BeatTracker" << std::endl;
  beat.reset();
  engine.reset();
}

// The parameters must give a positive frame rate and an interval range the
// engine can search: at least two candidates, none shorter than 5 frames,
// and none so long that its lookups would leave the engine's histories.
void BeatTracker::checkParameters() const {
  if (sampling_rate <= 0)
    fail("parameter \"SAMPLING_RATE\" must be above 0 Hz, got " + str(sampling_rate), __LINE__);
  if (advance <= 0)
    fail("parameter \"ADVANCE\" must be above 0 samples, got " + str(advance), __LINE__);
  if (min_bpm <= 0)
    fail("parameter \"MIN_BPM\" must be above 0, got " + str(min_bpm), __LINE__);
  if (max_bpm <= 1)
    fail("parameter \"MAX_BPM\" must be above 1, got " + str(max_bpm), __LINE__);
  if (max_bpm <= min_bpm)
    fail("parameter \"MAX_BPM\" (" + str(max_bpm) + ") must be above \"MIN_BPM\" (" +
             str(min_bpm) + ")",
         __LINE__);

  RealTimeBeatTrackerInit range;
  range.set_sampling_freq(static_cast<double>(sampling_rate));
  range.SetSTFTParameter(0, static_cast<unsigned long>(advance));
  range.SetSTPMParameter(min_bpm, max_bpm, min_bpm);
  const double shortest = std::trunc(range.cc_shift_start);
  const double end = std::trunc(range.cc_shift_end);
  const std::string context = " (\"SAMPLING_RATE\" " + str(sampling_rate) + ", \"ADVANCE\" " +
                              str(advance) + ", \"MIN_BPM\" " + str(min_bpm) +
                              ", \"MAX_BPM\" " + str(max_bpm) + ")";
  if (shortest < beat_tracker::kMinShiftStart)
    fail("parameter \"MAX_BPM\" is too fast for the frame rate: the shortest beat interval is " +
             str(shortest) + " frames, it must be at least " + str(beat_tracker::kMinShiftStart) +
             context,
         __LINE__);
  if (end > beat_tracker::kMaxShiftEnd)
    fail("parameter \"MIN_BPM\" is too slow for the frame rate: the beat interval range ends at " +
             str(end) + " frames, it must end at " + str(beat_tracker::kMaxShiftEnd) +
             " frames at most" + context,
         __LINE__);
  if (end < shortest + 2)
    fail("parameters \"MIN_BPM\" and \"MAX_BPM\" give fewer than two beat intervals to search "
         "(frames " + str(shortest) + " to " + str(end) + ")" + context,
         __LINE__);
  const int reach = beat_tracker::detail::largestReachableInterval(static_cast<int>(shortest),
                                                                   static_cast<int>(end));
  if (reach > beat_tracker::kMaxInterval)
    fail("parameter \"MAX_BPM\" is too slow for the frame rate: with beat intervals from " +
             str(shortest) + " to " + str(end) + " frames the tracker can follow intervals of up to " +
             str(reach) + " frames, more than the " + str(beat_tracker::kMaxInterval) +
             " it can hold" + context,
         __LINE__);
}

void BeatTracker::initialize() {
  int ahead = 0;
  int behind = 0;
  const int outputs[] = {beat_detected_output_id, tempo_output_id,        confidence_output_id,
                         onset_vector_output_id,  stpm_vector_output_id,  chroma_vector_output_id};
  for (int id : outputs) {
    if (outputSlots[id].aheadMargin > ahead) ahead = outputSlots[id].aheadMargin;
    if (outputSlots[id].behindMargin > behind) behind = outputSlots[id].behindMargin;
  }
  for (int id : outputs) {
    outputSlots[id].aheadMargin = ahead + 1;
    outputSlots[id].behindMargin = behind + 1;
  }
  BufferedNode::initialize();
}

ObjectRef BeatTracker::getOutput(int output_id, int count) {
  try {
    if (output_id < 0 || output_id >= static_cast<int>(outputSlots.size()) ||
        !outputSlots[output_id].buffer)
      fail("no output with id " + str(output_id), __LINE__);
    Buffer &out = *outputSlots[output_id].buffer;
    // Each frame counts as done as soon as it is computed: a failure later
    // in the same request must not make the earlier frames run twice.
    for (int i = lastFrameDone + 1; i <= count; ++i) {
      calculate(output_id, i, out);
      lastFrameDone = i;
    }
    return out.get(count);
  } catch (BaseException *e) {
    throw e->add(new NodeException(this, "Exception caught in BufferedNode::getOutput",
                                   "src/BeatTracker", 689));
  }
}

void BeatTracker::count0Initialize(int /*count*/, Buffer & /*out*/) {
  std::cout << "BeatTracker::count0Initialize" << std::endl;
  RCPtr<Matrix<float> > audio = getInput(audio_input_id, 0);

  RealTimeBeatTrackerInit init;
  init.set_sampling_freq(static_cast<double>(sampling_rate));
  init.set_beat_tracking_method(static_cast<Beat_tracking_method>(0));
  init.SetSTFTParameter(static_cast<unsigned long>(audio->ncols()),
                        static_cast<unsigned long>(advance));
  init.SetMelFilterParameter(kMelBands, kBandBegin, kBandEnd);
  init.SetDebugParameter(false, log_flag, "");
  init.SetSTPMParameter(static_cast<double>(min_bpm), static_cast<double>(max_bpm),
                        static_cast<double>(min_bpm));

  beat.reset(new Beat(2, 0.0, 0.0, 0.0, sampling_rate));
  realTimeBeatTrackerInitialize(init);
}

void BeatTracker::realTimeBeatTrackerInitialize(const RealTimeBeatTrackerInit &init) {
  std::cout << "BeatTracker::realTimeBeatTrackerInitialize" << std::endl;
  sampling_freq = init.sampling_freq;
  window_size = init.window_size;
  shift_size = init.shift_size;
  magnitude_bypass = init.magnitude_bypass;

  beat_tracker::BeatTrackerInit settings;
  settings.setInputSignal(sampling_freq, window_size, shift_size);
  settings.setDebugFlag(init.debug_flag, init.log_prefix);
  settings.setCCValues(init.cc_length, init.cc_shift_start, init.cc_shift_end);
  try {
    engine.reset(new beat_tracker::BeatTracker(settings));
  } catch (const std::invalid_argument &e) {
    fail(std::string("cannot build the beat tracker: ") + e.what(), __LINE__);
  }

  sample_window = std::make_shared<std::vector<double> >(window_size, 0.0);
  magnitude_vector = std::make_shared<std::vector<double> >(window_size / 2, 0.0);
  spectrum_window =
      std::make_shared<std::vector<FftComplex> >(window_size / 2 + 1, FftComplex(0.0, 0.0));
  voice_cancel = std::make_shared<VoiceCancel>(window_size);
}

void BeatTracker::calculate(int /*output_id*/, int count, Buffer &out) {
  RCPtr<Matrix<float> > audio = getInput(audio_input_id, count);
  RCPtr<Matrix<std::complex<float> > > spectrum = getInput(fftaudio_input_id, count);
  const std::string fault =
      frameShapeFault(count, *audio, *spectrum, static_cast<long>(window_size), advance);
  if (!fault.empty()) fail(fault, __LINE__);

  if (count == 0) {
    count0Initialize(count, out);
    update_signal(*sample_window, *audio, static_cast<int>(sample_window->size()));
  } else {
    update_signal(*sample_window, *audio, advance);
  }
  update_fftsignal(*spectrum_window, *spectrum, spectrum->ncols());

  if (!magnitude_bypass) {
    std::vector<double> &magnitude = *magnitude_vector;
    const std::vector<FftComplex> &bins = *spectrum_window;
    for (std::size_t k = 0; k < window_size / 2; ++k)
      magnitude[k] = std::sqrt(bins[k].re * bins[k].re + bins[k].im * bins[k].im);
  }

  last_result = engine->analyze(*magnitude_vector);

  const int beat_time = static_cast<int>(last_result.getBeatTime());
  const int interval = static_cast<int>(last_result.getInterval());
  const int current_time = static_cast<int>(last_result.getCurrentTime());
  const double reliability = last_result.getMusicReliability();
  double tempo = 0.0;
  bool detected = false;

  scheduleBeat(scheduled_beats, last_scheduled_beat, interval, last_result.getRecentBeatTime());
  if (takeDueBeat(scheduled_beats, current_time)) {
    detected = true;
    announceBeat(reliability, beat_time, interval, current_time, tempo);
  }

  writeOutputs(count, detected, reliability, tempo);
}

void BeatTracker::announceBeat(double reliability, int beat_time, int interval,
                               int current_time, double &tempo) {
  // A beat without an interval has no tempo: it is never published.
  if (isReliable(reliability, reliability_threshold) && interval != 0) {
    std::cout << "Beat detected at time: " << current_time << std::endl;
    const double interval_sec = framesToSeconds(interval, shift_size, sampling_freq);
    const double beat_sec = framesToSeconds(beat_time, shift_size, sampling_freq);
    tempo = 60 / interval_sec;
    beat->set_beat(beat_sec, interval_sec, reliability);
    std::cout << "Rely!!! : " << reliability << " tempo: " << tempo << std::endl;
    beat_log << tempo << " " << current_time << " " << reliability << std::endl;
  } else {
    std::cout << "Discard : " << reliability << std::endl;
  }
}

void BeatTracker::writeOutputs(int count, bool detected, double reliability, double tempo) {
  (*outputSlots[beat_detected_output_id].buffer)[count] = detected ? TrueObject : FalseObject;
  (*outputSlots[confidence_output_id].buffer)[count] =
      NetCType<float>::alloc(static_cast<float>(reliability));
  (*outputSlots[tempo_output_id].buffer)[count] =
      NetCType<float>::alloc(detected ? static_cast<float>(tempo) : 0.0f);
  if (vector_flag) {
    (*outputSlots[onset_vector_output_id].buffer)[count] = floatVector(last_result.onset_vector, 64);
    (*outputSlots[stpm_vector_output_id].buffer)[count] =
        floatVector(last_result.stpm_vector, last_result.stpm_vector.size());
    (*outputSlots[chroma_vector_output_id].buffer)[count] =
        floatVector(last_result.chroma_vector, 12);
  }
}
