#ifndef TESK_MUSIC_REAL_TIME_BEAT_TRACKER_INIT_H
#define TESK_MUSIC_REAL_TIME_BEAT_TRACKER_INIT_H

#include <string>

// Only one method exists; the selector is kept for the record's layout.
enum Beat_tracking_method {
  BEAT_TRACKING_STPM = 0
};

// The node's start-up settings, gathered on the first frame. The tempo range
// is given in beats per minute and stored as inter-beat periods in frames.
class RealTimeBeatTrackerInit {
public:
  RealTimeBeatTrackerInit() = default;
  ~RealTimeBeatTrackerInit() = default;

  void set_beat_tracking_method(Beat_tracking_method method);
  void set_sampling_freq(double freq);
  void SetSTFTParameter(unsigned long window, unsigned long shift);
  void SetMelFilterParameter(unsigned long bands, unsigned long begin,
                             unsigned long end);
  // Must follow set_sampling_freq and SetSTFTParameter: converts the three
  // tempi into periods in frames. The start period is taken for b - 1 BPM.
  void SetSTPMParameter(double a, double b, double c);
  void SetDebugParameter(bool bypass, bool debug, std::string prefix);

  Beat_tracking_method beat_tracking_method;
  double sampling_freq;
  unsigned long window_size;
  unsigned long shift_size;
  unsigned long mel_band_count;
  unsigned long band_begin;
  unsigned long band_end;
  double cc_length;
  double cc_shift_start;
  double cc_shift_end;
  bool debug_flag;
  bool magnitude_bypass;
  std::string log_prefix;
};

#endif
