#ifndef TESK_MUSIC_BAR_POINTER_TRACKER_NODE_H
#define TESK_MUSIC_BAR_POINTER_TRACKER_NODE_H

#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "BarPointerParameters.h"
#include "bar_pointer/OnlineTracker.h"
#include "tesk/BufferedNode.h"
#include "tesk/Matrix.h"

// The "BarPointerTracker" node: the probabilistic bar-pointer beat tracker
// with the ports of the "BeatTracker" node, so that a host network swaps
// one for the other by name.
//
// Inputs:  "AUDIO" (Matrix<float>, channels x window samples; only its width
//          is used), "FFTAUDIO" (Matrix<complex<float>>, row 0: window/2 + 1 bins).
// Outputs: "BEAT_DETECTED"; "TEMPO" (BPM on a frame announcing a beat whose
//          confidence reaches the threshold, else 0); "CONFIDENCE";
//          with "VECTOR_FLAG", "ONSET_VECTOR" (the frame's onset feature, or
//          with "ACTIVATION" "learned" its beat and downbeat activations),
//          "STPM_VECTOR" (the tempo posterior, one value per beat interval,
//          shortest first) and "CHROMA_VECTOR" (empty); "BEAT_AHEAD" (on a
//          frame announcing a beat, how many frames later the beat falls);
//          "BEAT_IN_BAR" (int: on a frame announcing a beat, where it falls
//          in its bar, 1 = the downbeat; 0 on other frames and where no
//          bar is known).
// Parameters as "BeatTracker" ("LOG_FLAG" accepted, no files written), and
// optionally "ANNOUNCE_AHEAD" (int, frames), "COMPRESSION",
// "TRANSITION_LAMBDA", "OBSERVATION_LAMBDA" (floats), "ACTIVATION" (String:
// what the tracker observes, "flux" (the default) or "learned").
// The tracker is built on frame 0, whose AUDIO width sets the window size.
class BarPointerTracker : public TESK::BufferedNode {
public:
  BarPointerTracker(std::string nodeName, TESK::ParameterSet params);
  ~BarPointerTracker() override;

protected:
  void calculate(int output_id, int count, TESK::Buffer &out) override;

private:
  void readParameters();
  void checkParameters() const;
  std::unique_ptr<bar_pointer::OnlineTracker> buildTracker(int window) const;
  void writeOutputs(int count, const bar_pointer::FrameResult &result);

  int audio_input_id;
  int fftaudio_input_id;
  int beat_detected_output_id;
  int tempo_output_id;
  int confidence_output_id;
  int onset_vector_output_id;
  int stpm_vector_output_id;
  int chroma_vector_output_id;
  int beat_ahead_output_id;
  int beat_in_bar_output_id;
  float reliability_threshold = 0.0f;
  bool vector_flag = false;
  BarPointerParameters parameters;  // window set on frame 0
  std::unique_ptr<bar_pointer::OnlineTracker> tracker;
  std::vector<double> magnitudes;
};

#endif
