#ifndef TESK_MUSIC_BEAT_H
#define TESK_MUSIC_BEAT_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// The latest reliable beat, published to other threads of the host process.
// A reader takes `mutex`, reads the three beat values together and may wait
// on `beat_signal`, which every set_beat notifies.
class Beat {
public:
  Beat(unsigned long n, double beat_time, double interval, double reliability,
       int sampling_rate);
  ~Beat();

  Beat(const Beat &) = delete;
  Beat &operator=(const Beat &) = delete;

  // Stores the three values and wakes every waiter, all under the lock.
  void set_beat(double beat_time, double interval, double reliability);

  std::mutex mutex;
  std::condition_variable beat_signal;
  std::condition_variable second_signal;  // never notified here
  double beat_time_sec;
  double beat_interval_sec;
  double beat_reliability;
  int sampling_rate;
  std::vector<bool> slot_flags;
  bool state_flag_1;
  bool state_flag_2;
  std::uint64_t extra_value;
  int extra_count;
};

#endif
