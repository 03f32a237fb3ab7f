#include "BeatSchedule.h"

bool scheduleBeat(std::list<int> &scheduled_beats, int &last_scheduled_beat, int interval,
                  double recent_beat_time) {
  const int predicted = static_cast<int>(static_cast<double>(2 * interval) + recent_beat_time);
  if (static_cast<double>(predicted) > 0.8 * interval + last_scheduled_beat) {
    scheduled_beats.push_back(predicted);
    last_scheduled_beat = predicted;
    return true;
  }
  return false;
}

bool takeDueBeat(std::list<int> &scheduled_beats, int current_time) {
  if (scheduled_beats.empty() || scheduled_beats.front() > current_time) return false;
  scheduled_beats.pop_front();
  return true;
}

bool isReliable(double reliability, float threshold) {
  return reliability >= static_cast<double>(threshold);
}

double framesToSeconds(int frames, unsigned long shift_size, double sampling_freq) {
  return static_cast<double>(static_cast<unsigned long>(frames) * shift_size) / sampling_freq;
}
