#include "RealTimeBeatTrackerInit.h"

#include <cmath>

void RealTimeBeatTrackerInit::set_beat_tracking_method(Beat_tracking_method method) {
  beat_tracking_method = method;
}

void RealTimeBeatTrackerInit::set_sampling_freq(double freq) {
  sampling_freq = freq;
}

void RealTimeBeatTrackerInit::SetSTFTParameter(unsigned long window,
                                               unsigned long shift) {
  window_size = window;
  shift_size = shift;
}

void RealTimeBeatTrackerInit::SetMelFilterParameter(unsigned long bands,
                                                    unsigned long begin,
                                                    unsigned long end) {
  mel_band_count = bands;
  band_begin = begin;
  band_end = end;
}

void RealTimeBeatTrackerInit::SetSTPMParameter(double a, double b, double c) {
  const double frames_per_second = sampling_freq / static_cast<double>(shift_size);
  cc_length = std::ceil((frames_per_second * 60) / a);
  cc_shift_start = std::ceil((frames_per_second * 60) / (b - 1));
  cc_shift_end = std::ceil((frames_per_second * 60) / c);
}

void RealTimeBeatTrackerInit::SetDebugParameter(bool bypass, bool debug,
                                                std::string prefix) {
  magnitude_bypass = bypass;
  debug_flag = debug;
  log_prefix = prefix;
}
