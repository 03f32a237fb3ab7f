// What the tracker reports for one input: each announced beat and a summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tesk-music/pipeline/tracker.h"

namespace tesk_beat {

// A beat as the pipeline announces it; --vectors fills its vectors.
using BeatEvent = tesk_pipeline::Beat;

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

// Counts a beat the tracker announced into `s`, and a reliable one's tempo
// into `tempi` for the median; whether it is reported is the caller's.
void countAnnounced(Summary& s, std::vector<float>& tempi, const BeatEvent& b);

}  // namespace tesk_beat
