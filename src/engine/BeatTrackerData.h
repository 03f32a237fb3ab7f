#ifndef BEAT_TRACKER_ENGINE_BEAT_TRACKER_DATA_H
#define BEAT_TRACKER_ENGINE_BEAT_TRACKER_DATA_H

#include <vector>

namespace beat_tracker {

// Result of one BeatTracker::analyze call. Times are frame indices.
class BeatTrackerData {
 public:
  BeatTrackerData();

  void setOnsetVector(const std::vector<double>& vector);
  void setSTPMVector(const std::vector<double>& vector);
  void setChromaVector(const std::vector<double>& vector);
  void setInterval(double interval);
  void setBeatType(unsigned long beat_type);
  // Also sets time_since_beat = current_time - beat_time.
  void setBeatTimes(double beat_time, double current_time);
  // Sets time_since_recent_beat = current_time - recent_beat_time; the
  // current time itself is not stored.
  void setRecentBeatTime(double recent_beat_time, double current_time);
  void setMusicReliability(double music_reliability);

  double getInterval() const;
  double getCurrentTime() const;
  double getBeatTime() const;
  double getRecentBeatTime() const;
  double getMusicReliability() const;

  std::vector<double> onset_vector;
  std::vector<double> stpm_vector;
  std::vector<double> chroma_vector;

 private:
  double interval;
  unsigned long beat_type;
  double current_time;
  double beat_time;
  double recent_beat_time;
  double time_since_beat;
  double time_since_recent_beat;
  double music_reliability;
};

}  // namespace beat_tracker

#endif
