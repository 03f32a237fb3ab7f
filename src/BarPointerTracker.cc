#include "BarPointerTracker.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "BeatSchedule.h"
#include "FrameShapes.h"
#include "NodeMessages.h"
#include "SpectrumMagnitudes.h"
#include "bar_pointer/Settings.h"
#include "tesk/Exception.h"
#include "tesk/NetCType.h"
#include "tesk/String.h"
#include "tesk/Vector.h"

using namespace TESK;

namespace {

// The longest window the tracker takes: an advance beyond it can never fit.
const int kMaxWindow = 1 << 20;

using node_messages::str;

[[noreturn]] void fail(const std::string &message, int line) {
  node_messages::fail("BarPointerTracker", message, __FILE__, line);
}

template <class T>
std::optional<T> optionalParameter(const ParameterSet &params, const std::string &name) {
  if (!params.exist(name)) return std::nullopt;
  return dereference_cast<T>(params.get(name));
}

// The activation a name chooses; unset for a name no activation has.
std::optional<bar_pointer::Settings::Activation> activationNamed(const std::string &name) {
  if (name == "flux") return bar_pointer::Settings::Activation::kFlux;
  if (name == "learned") return bar_pointer::Settings::Activation::kLearned;
  return std::nullopt;
}

Vector<float> *floatVector(const std::vector<double> &values) {
  Vector<float> *vector = Vector<float>::alloc(0);
  vector->resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) (*vector)[i] = static_cast<float>(values[i]);
  return vector;
}

}  // namespace

BarPointerTracker::BarPointerTracker(std::string nodeName, ParameterSet params)
    : BufferedNode(nodeName, params) {
  audio_input_id = addInput("AUDIO");
  fftaudio_input_id = addInput("FFTAUDIO");
  beat_detected_output_id = addOutput("BEAT_DETECTED");
  tempo_output_id = addOutput("TEMPO");
  confidence_output_id = addOutput("CONFIDENCE");
  onset_vector_output_id = addOutput("ONSET_VECTOR");
  stpm_vector_output_id = addOutput("STPM_VECTOR");
  chroma_vector_output_id = addOutput("CHROMA_VECTOR");
  beat_ahead_output_id = addOutput("BEAT_AHEAD");
  beat_in_bar_output_id = addOutput("BEAT_IN_BAR");
  readParameters();
  checkParameters();
  inOrder = true;
}

BarPointerTracker::~BarPointerTracker() = default;

void BarPointerTracker::readParameters() {
  reliability_threshold = dereference_cast<float>(ownParameters.get("RELIABILITY-THRESHOLD"));
  parameters.advance = dereference_cast<int>(ownParameters.get("ADVANCE"));
  parameters.sampling_rate = dereference_cast<int>(ownParameters.get("SAMPLING_RATE"));
  parameters.max_bpm = dereference_cast<int>(ownParameters.get("MAX_BPM"));
  parameters.min_bpm = dereference_cast<int>(ownParameters.get("MIN_BPM"));
  vector_flag = dereference_cast<bool>(ownParameters.get("VECTOR_FLAG"));
  // Accepted for networks written for "BeatTracker"; this tracker writes no files.
  optionalParameter<bool>(ownParameters, "LOG_FLAG");
  parameters.announce_ahead = optionalParameter<int>(ownParameters, "ANNOUNCE_AHEAD");
  if (auto v = optionalParameter<float>(ownParameters, "COMPRESSION")) parameters.compression = *v;
  if (auto v = optionalParameter<float>(ownParameters, "TRANSITION_LAMBDA"))
    parameters.transition_lambda = *v;
  if (auto v = optionalParameter<float>(ownParameters, "OBSERVATION_LAMBDA"))
    parameters.observation_lambda = *v;
  if (ownParameters.exist("ACTIVATION")) {
    // Any other type raises the host's CastException, as for the numbers.
    const RCPtr<String> name = ownParameters.get("ACTIVATION");
    parameters.activation = activationNamed(name->val());
    if (!parameters.activation)
      fail("parameter \"ACTIVATION\" must be \"flux\" or \"learned\", got \"" + name->val() +
               "\"",
           __LINE__);
  }
}

// Each parameter on its own, then the combination (the tempo range at this
// frame rate, how far ahead beats may be announced) as the tracker judges
// it; only the window is still unknown, and any window from the advance up
// serves for that.
void BarPointerTracker::checkParameters() const {
  const BarPointerParameters &p = parameters;
  if (!(reliability_threshold >= 0.0f && reliability_threshold <= 1.0f))
    fail("parameter \"RELIABILITY-THRESHOLD\" must be 0 to 1, got " + str(reliability_threshold),
         __LINE__);
  if (p.sampling_rate <= 0)
    fail("parameter \"SAMPLING_RATE\" must be above 0 Hz, got " + str(p.sampling_rate), __LINE__);
  if (p.advance <= 0 || p.advance > kMaxWindow)
    fail("parameter \"ADVANCE\" must be 1 to " + str(kMaxWindow) + " samples, got " +
             str(p.advance),
         __LINE__);
  if (p.min_bpm <= 0)
    fail("parameter \"MIN_BPM\" must be above 0, got " + str(p.min_bpm), __LINE__);
  if (p.max_bpm <= p.min_bpm)
    fail("parameter \"MAX_BPM\" (" + str(p.max_bpm) + ") must be above \"MIN_BPM\" (" +
             str(p.min_bpm) + ")",
         __LINE__);
  if (p.announce_ahead && *p.announce_ahead < 0)
    fail("parameter \"ANNOUNCE_AHEAD\" must be 0 frames or more, got " + str(*p.announce_ahead),
         __LINE__);
  if (p.compression && !(std::isfinite(*p.compression) && *p.compression >= 0.0))
    fail("parameter \"COMPRESSION\" must be a finite number, 0 or more, got " +
             str(*p.compression),
         __LINE__);
  if (p.transition_lambda && !(std::isfinite(*p.transition_lambda) && *p.transition_lambda >= 0.0))
    fail("parameter \"TRANSITION_LAMBDA\" must be a finite number, 0 or more, got " +
             str(*p.transition_lambda),
         __LINE__);
  if (p.observation_lambda &&
      !(std::isfinite(*p.observation_lambda) && *p.observation_lambda > 1.0))
    fail("parameter \"OBSERVATION_LAMBDA\" must be a finite number above 1, got " +
             str(*p.observation_lambda),
         __LINE__);

  BarPointerParameters any_window = p;
  any_window.window = std::max(p.advance, 64);
  try {
    bar_pointer::validate(barPointerSettings(any_window));
  } catch (const std::invalid_argument &e) {
    fail("parameters \"SAMPLING_RATE\" " + str(p.sampling_rate) + ", \"ADVANCE\" " +
             str(p.advance) + ", \"MIN_BPM\" " + str(p.min_bpm) + ", \"MAX_BPM\" " +
             str(p.max_bpm) + ", \"ANNOUNCE_AHEAD\" " +
             (p.announce_ahead ? str(*p.announce_ahead) : std::string("(default)")) +
             " give no usable tracker: " + e.what(),
         __LINE__);
  }
}

std::unique_ptr<bar_pointer::OnlineTracker> BarPointerTracker::buildTracker(int window) const {
  BarPointerParameters p = parameters;
  p.window = window;
  try {
    return std::make_unique<bar_pointer::OnlineTracker>(barPointerSettings(p));
  } catch (const std::invalid_argument &e) {
    fail("frame 0: cannot build the tracker for a window of " + str(window) + " samples: " +
             e.what(),
         __LINE__);
  }
}

void BarPointerTracker::calculate(int /*output_id*/, int count, Buffer & /*out*/) {
  RCPtr<Matrix<float> > audio = getInput(audio_input_id, count);
  RCPtr<Matrix<std::complex<float> > > spectrum = getInput(fftaudio_input_id, count);
  const std::string fault =
      frameShapeFault(count, *audio, *spectrum, parameters.window, parameters.advance);
  if (!fault.empty()) fail(fault, __LINE__);

  // Frame 0 builds a new tracker, kept only if the frame succeeds: a refused
  // frame changes nothing.
  std::unique_ptr<bar_pointer::OnlineTracker> fresh;
  if (count == 0) fresh = buildTracker(audio->ncols());
  bar_pointer::OnlineTracker &active = fresh ? *fresh : *tracker;

  magnitudes.resize(static_cast<std::size_t>(spectrum->ncols()));
  spectrumMagnitudes(spectrum->data(), magnitudes.size(), magnitudes.data());
  bar_pointer::FrameResult result;
  try {
    result = active.process(magnitudes.data(), magnitudes.size());
  } catch (const std::invalid_argument &e) {
    fail("frame " + str(count) + ": the FFTAUDIO spectrum is refused: " + e.what(), __LINE__);
  }
  if (fresh) {
    tracker = std::move(fresh);
    parameters.window = static_cast<int>(audio->ncols());
  }
  writeOutputs(count, result);
}

void BarPointerTracker::writeOutputs(int count, const bar_pointer::FrameResult &r) {
  const bool reliable = r.beat && isReliable(r.confidence, reliability_threshold);
  (*outputSlots[beat_detected_output_id].buffer)[count] = r.beat ? TrueObject : FalseObject;
  (*outputSlots[tempo_output_id].buffer)[count] =
      NetCType<float>::alloc(reliable ? static_cast<float>(r.tempo) : 0.0f);
  (*outputSlots[confidence_output_id].buffer)[count] =
      NetCType<float>::alloc(static_cast<float>(r.confidence));
  (*outputSlots[beat_ahead_output_id].buffer)[count] =
      NetCType<int>::alloc(r.beat ? static_cast<int>(r.beat_frame - r.frame) : 0);
  (*outputSlots[beat_in_bar_output_id].buffer)[count] =
      NetCType<int>::alloc(r.beat ? r.beat_in_bar : 0);
  if (vector_flag) {
    // The flux feature, or the learned beat and downbeat activations.
    const bool learned = tracker->settings().activation == bar_pointer::Settings::Activation::kLearned;
    (*outputSlots[onset_vector_output_id].buffer)[count] =
        learned ? floatVector({r.beat_activation, r.downbeat_activation}) : floatVector({r.onset});
    (*outputSlots[stpm_vector_output_id].buffer)[count] = floatVector(tracker->tempoPosterior());
    (*outputSlots[chroma_vector_output_id].buffer)[count] = floatVector({});
  }
}
