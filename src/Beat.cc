#include "Beat.h"

Beat::Beat(unsigned long n, double beat_time, double interval,
           double reliability, int sampling_rate)
    : beat_time_sec(beat_time),
      beat_interval_sec(interval),
      beat_reliability(reliability),
      sampling_rate(sampling_rate),
      slot_flags(n, false),
      state_flag_1(false),
      state_flag_2(false),
      extra_value(0),
      extra_count(0) {}

Beat::~Beat() = default;

void Beat::set_beat(double beat_time, double interval, double reliability) {
  std::lock_guard<std::mutex> lock(mutex);
  beat_time_sec = beat_time;
  beat_interval_sec = interval;
  beat_reliability = reliability;
  beat_signal.notify_all();
}
