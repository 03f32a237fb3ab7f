#ifndef TESK_MUSIC_BEAT_SCHEDULE_H
#define TESK_MUSIC_BEAT_SCHEDULE_H

#include <list>

// The node's queue of beats still to be announced, in frames.

// Schedules a beat two intervals after the latest predicted beat, unless it
// falls within 0.8 intervals of the beat scheduled last. Returns whether a
// beat was appended.
bool scheduleBeat(std::list<int> &scheduled_beats, int &last_scheduled_beat, int interval,
                  double recent_beat_time);

// Removes the earliest scheduled beat when it is due at `current_time`:
// one beat per call, even if more are due. Returns whether one was removed.
bool takeDueBeat(std::list<int> &scheduled_beats, int current_time);

// Whether a due beat counts as reliable: the reliability reaches the
// threshold widened to double. A NaN reliability never does.
bool isReliable(double reliability, float threshold);

// A span of frames in seconds: frames x shift as a 64-bit integer, divided
// by the sampling frequency.
double framesToSeconds(int frames, unsigned long shift_size, double sampling_freq);

#endif
