// What the tracker reports for one input: each announced beat and a summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tesk_beat {

struct BeatEvent {
  int64_t frame = 0;        // host frame on which the beat was announced
  double time = 0.0;        // seconds, see --help for the mapping
  bool reliable = false;    // music reliability reached the threshold
  float tempo = 0.0f;       // BPM; 0 for a discarded beat
  float confidence = 0.0f;  // the node's music reliability on that frame
  // Filled only with --vectors.
  std::vector<float> onset, stpm, chroma;
};

struct StreamInfo {
  std::string input;  // as given on the command line
  int sample_rate = 0;    // of the input
  int analysis_rate = 0;  // at which the node ran
  int channels = 0;
  int window = 0;
  int advance = 0;
};

struct Summary {
  int64_t reported = 0;  // written out (--reliable-only leaves out the discarded ones)
  int64_t beats = 0;     // announced by the node outside silence
  int64_t reliable = 0;  // of those announced
  double median_tempo = 0.0;  // of reliable beats; 0 when there are none
  double duration = 0.0;      // seconds of input read
  int64_t frames = 0;
  bool truncated = false;
  bool interrupted = false;  // stopped by a signal before the input's end
  std::string error;  // empty on success
};

// Median tempo of the reliable beats (0 without any).
double medianReliableTempo(const std::vector<float>& tempi);

}  // namespace tesk_beat
