#include "engine/BeatTrackerData.h"

namespace beat_tracker {

BeatTrackerData::BeatTrackerData()
    : interval(0),
      beat_type(0),
      current_time(0),
      beat_time(0),
      recent_beat_time(0),
      time_since_beat(0),
      time_since_recent_beat(0),
      music_reliability(0) {}

void BeatTrackerData::setOnsetVector(const std::vector<double>& vector) { onset_vector = vector; }
void BeatTrackerData::setSTPMVector(const std::vector<double>& vector) { stpm_vector = vector; }
void BeatTrackerData::setChromaVector(const std::vector<double>& vector) { chroma_vector = vector; }
void BeatTrackerData::setInterval(double interval_) { interval = interval_; }
void BeatTrackerData::setBeatType(unsigned long beat_type_) { beat_type = beat_type_; }

void BeatTrackerData::setBeatTimes(double beat_time_, double current_time_) {
  current_time = current_time_;
  beat_time = beat_time_;
  time_since_beat = current_time_ - beat_time_;
}

void BeatTrackerData::setRecentBeatTime(double recent_beat_time_, double current_time_) {
  recent_beat_time = recent_beat_time_;
  time_since_recent_beat = current_time_ - recent_beat_time_;
}

void BeatTrackerData::setMusicReliability(double music_reliability_) {
  music_reliability = music_reliability_;
}

double BeatTrackerData::getInterval() const { return interval; }
double BeatTrackerData::getCurrentTime() const { return current_time; }
double BeatTrackerData::getBeatTime() const { return beat_time; }
double BeatTrackerData::getRecentBeatTime() const { return recent_beat_time; }
double BeatTrackerData::getMusicReliability() const { return music_reliability; }

}  // namespace beat_tracker
