#ifndef TESK_MUSIC_BEAT_TRACKER_NODE_H
#define TESK_MUSIC_BEAT_TRACKER_NODE_H

#include <list>
#include <memory>
#include <string>
#include <vector>
#include <fstream>

#include "Beat.h"
#include "RealTimeBeatTrackerInit.h"
#include "engine/BeatTracker.h"
#include "engine/BeatTrackerData.h"
#include "tesk/BufferedNode.h"
#include "tesk/Matrix.h"
#include "voice_cancel/FftComplex.h"
#include "voice_cancel/VoiceCancel.h"

// The "BeatTracker" node: tracks musical beats in a stream of audio frames
// and their spectra, announces each beat on the frame it falls due, and
// publishes the reliable ones with their tempo.
//
// Inputs:  "AUDIO" (Matrix<float>, channels x window samples),
//          "FFTAUDIO" (Matrix<complex<float>>, row 0: window/2 + 1 bins).
// Outputs: "BEAT_DETECTED", "TEMPO", "CONFIDENCE" and, with "VECTOR_FLAG",
//          "ONSET_VECTOR", "STPM_VECTOR", "CHROMA_VECTOR".
// The engine is built on frame 0, whose AUDIO width sets the window size.
class BeatTracker : public TESK::BufferedNode {
public:
  BeatTracker(std::string nodeName, TESK::ParameterSet params);
  ~BeatTracker() override;

  TESK::ObjectRef getOutput(int output_id, int count) override;
  void initialize() override;

  void count0Initialize(int count, TESK::Buffer &out);
  void realTimeBeatTrackerInitialize(const RealTimeBeatTrackerInit &init);

protected:
  void calculate(int output_id, int count, TESK::Buffer &out) override;

private:
  void checkParameters() const;
  void announceBeat(double reliability, int beat_time, int interval,
                    int current_time, double &tempo);
  void writeOutputs(int count, bool detected, double reliability, double tempo);

protected:
  // The node's state, open to nodes derived from it.
  int audio_input_id;
  int fftaudio_input_id;
  int beat_detected_output_id;
  int tempo_output_id;
  int confidence_output_id;
  int onset_vector_output_id;
  int stpm_vector_output_id;
  int chroma_vector_output_id;
  float reliability_threshold;
  int advance;
  int sampling_rate;
  int max_bpm;
  int min_bpm;
  bool vector_flag;
  bool log_flag;
  std::shared_ptr<std::vector<double> > sample_window;
  std::shared_ptr<std::vector<double> > magnitude_vector;
  std::shared_ptr<std::vector<FftComplex> > spectrum_window;
  std::shared_ptr<VoiceCancel> voice_cancel;
  beat_tracker::BeatTrackerData last_result;
  std::list<int> scheduled_beats;
  int last_scheduled_beat;
  double sampling_freq;
  unsigned long window_size;
  unsigned long shift_size;
  bool magnitude_bypass;
  std::unique_ptr<beat_tracker::BeatTracker> engine;
  std::unique_ptr<Beat> beat;
  std::ofstream beat_log;
};

#endif
