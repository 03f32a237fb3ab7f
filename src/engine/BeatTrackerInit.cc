#include "engine/BeatTrackerInit.h"

#include <utility>

namespace beat_tracker {

BeatTrackerInit::BeatTrackerInit()
    : sampling_freq(44100.0),
      window_size(4096),
      shift_size(512),
      mel_band_count(64),
      band_begin(1),
      band_end(63),
      cc_length(1.01),
      cc_shift_start(0.51),
      cc_shift_end(1.01),
      debug_flag(true),
      log_prefix() {}

void BeatTrackerInit::setInputSignal(double sampling_freq_, unsigned long window_size_,
                                     unsigned long shift_size_) {
  sampling_freq = sampling_freq_;
  window_size = window_size_;
  shift_size = shift_size_;
}

void BeatTrackerInit::setDebugFlag(bool flag, std::string prefix) {
  debug_flag = flag;
  log_prefix = std::move(prefix);
}

void BeatTrackerInit::setCCValues(double cc_length_, double cc_shift_start_,
                                  double cc_shift_end_) {
  cc_length = cc_length_;
  cc_shift_start = cc_shift_start_;
  cc_shift_end = cc_shift_end_;
}

double BeatTrackerInit::getSamplingFreq() const { return sampling_freq; }
unsigned long BeatTrackerInit::getWindowSize() const { return window_size; }
unsigned long BeatTrackerInit::getShiftSize() const { return shift_size; }
bool BeatTrackerInit::getDebugFlag() const { return debug_flag; }
std::string BeatTrackerInit::getLogPrefix() const { return log_prefix; }
double BeatTrackerInit::getCcShiftStart() const { return cc_shift_start; }
double BeatTrackerInit::getCcShiftEnd() const { return cc_shift_end; }

}  // namespace beat_tracker
