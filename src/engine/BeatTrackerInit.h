#ifndef BEAT_TRACKER_ENGINE_BEAT_TRACKER_INIT_H
#define BEAT_TRACKER_ENGINE_BEAT_TRACKER_INIT_H

#include <string>

namespace beat_tracker {

// Settings from which a BeatTracker is constructed. Times and intervals are
// counted in frames (one frame = shift_size samples).
class BeatTrackerInit {
 public:
  BeatTrackerInit();

  void setInputSignal(double sampling_freq, unsigned long window_size,
                      unsigned long shift_size);
  void setDebugFlag(bool flag, std::string prefix);
  void setCCValues(double cc_length, double cc_shift_start, double cc_shift_end);

  double getSamplingFreq() const;
  unsigned long getWindowSize() const;
  unsigned long getShiftSize() const;
  bool getDebugFlag() const;
  std::string getLogPrefix() const;
  double getCcShiftStart() const;
  double getCcShiftEnd() const;

 private:
  double sampling_freq;
  unsigned long window_size;
  unsigned long shift_size;
  // Carried for the caller; the engine fixes these itself.
  unsigned long mel_band_count;
  unsigned long band_begin;
  unsigned long band_end;
  double cc_length;
  double cc_shift_start;
  double cc_shift_end;
  bool debug_flag;
  std::string log_prefix;
};

}  // namespace beat_tracker

#endif
