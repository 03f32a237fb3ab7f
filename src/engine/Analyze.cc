// Per-frame analysis: front end, interval estimation, beat reliability,
// beat search and prediction.
#include <cmath>
#include <iostream>
#include <stdexcept>
#include <string>

#include "engine/BeatTracker.h"
#include "engine/EngineLimits.h"
#include "engine/LogLines.h"
#include "engine/TrackingSteps.h"

namespace beat_tracker {

BeatTrackerData BeatTracker::analyze(const std::vector<double>& spectrum) {
  if (spectrum.size() != num_bins)
    throw std::invalid_argument("BeatTracker::analyze: spectrum has " +
                                std::to_string(spectrum.size()) + " values, expected num_bins = " +
                                std::to_string(num_bins));

  BeatTrackerData result;
  frame_count = frame_count + 1;
  silent = false;

  // Front end.
  spec_buffer.push_back(spectrum);
  std::vector<double> chroma = MakeChromaVec(spec_buffer);
  mel_buffer.push_back(MelFilter(spec_buffer));
  int kernel[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
  std::vector<double> onset = Filter3x3(mel_buffer, kernel);
  onset_buffer.push_back(onset);
  onset_history.push(onset);
  std::vector<double> stpm = STPattanMatching(onset_buffer);

  // Interval estimate.
  const detail::IntervalChoice choice = detail::chooseInterval(stpm, cc_shift_start, tracking);
  silent = choice.silent;
  interval_buffer.push_back(cc_shift_start + choice.chosen);

  // Music reliability: share of recent frames that agree with this interval.
  const double current = interval_buffer[0];
  unsigned long agreeing = 0;
  for (unsigned long j = 1; j <= static_cast<unsigned long>(music_reliability_window); ++j) {
    const double past = interval_buffer[j];
    if (current - 5 < past && past < current + 5) ++agreeing;
  }
  music_reliability_buffer.push_back(silent ? 0.0 : agreeing / music_reliability_window);
  if (debug_flag) flat_num_log << agreeing << std::endl;

  double onset_power = 0.0;
  for (int j = stpm_band_begin - 1; j < stpm_band_end - 1; ++j)
    onset_power += onset[static_cast<std::size_t>(j)];
  onset_power_buffer.push_back(onset_power);

  // Interval pattern: onset power now and one interval earlier.
  const double I = interval_buffer[0];
  const int interval_now = static_cast<int>(I);
  std::vector<double> H(static_cast<std::size_t>(cc_shift_end), 0.0);
  for (int k = 0; k < I && k < cc_shift_end; ++k)
    H[static_cast<std::size_t>(k)] =
        onset_power_buffer[static_cast<unsigned long>(k)] +
        onset_power_buffer[static_cast<unsigned long>(k + interval_now)];
  interval_pattern_buffer.push_back(H);
  if (debug_flag) detail::writeVectorLine(inc_spec_log, H);

  // Beat pattern: the interval patterns of up to three earlier beats.
  const int past_beats = detail::pastBeatCount(frame_count, frames_per_window, interval);
  std::vector<double> R(static_cast<std::size_t>(cc_shift_end), 0.0);
  int x = interval_now;
  for (int b = 0; b < past_beats; ++b) {
    const std::vector<double>& pattern = interval_pattern_buffer[static_cast<unsigned long>(x)];
    for (int n = 0; n < cc_shift_end; ++n)
      R[static_cast<std::size_t>(n)] += pattern[static_cast<std::size_t>(n)];
    x = x + static_cast<int>(interval_buffer[static_cast<unsigned long>(x)]);
  }
  if (debug_flag) {
    for (int n = 0; n < cc_shift_end; ++n)
      beats_reliability_mask_log << R[static_cast<std::size_t>(n)] * H[static_cast<std::size_t>(n)]
                                 << " ";
    beats_reliability_mask_log << std::endl;
  }

  // Beat reliability: running mean of every recent frame's contributions.
  reliability_sum_buffer.push_back(0.0);
  reliability_count_buffer.push_back(0);
  for (int k = 0; k < cc_shift_end; ++k) {
    const unsigned long age = static_cast<unsigned long>(k);
    const double S = reliability_sum_buffer[age];
    const double N = static_cast<double>(reliability_count_buffer[age]);
    reliability_sum_buffer[age] = detail::accumulateReliability(
        S, N, R[static_cast<std::size_t>(k)] * H[static_cast<std::size_t>(k)]);
    reliability_count_buffer[age] = reliability_count_buffer[age] + 1;
  }
  const unsigned long finished = static_cast<unsigned long>(cc_shift_end);
  if (reliability_sum_buffer[finished + 1] > reliability_sum_buffer[finished])
    reliability_sum_buffer[finished] = 0.0;
  else
    reliability_sum_buffer[finished + 1] = 0.0;
  if (debug_flag) beats_reliability_log << reliability_sum_buffer[finished + 2] << std::endl;

  // Beat search, once one and a half periods have passed since the last beat.
  const double L = interval;
  if (detail::beatSearchDue(frame_count, cc_shift_end, stpm_pattern_length, past_beats,
                            beat_time, L)) {
    std::vector<double> W(static_cast<std::size_t>(std::ceil(L)));
    for (std::size_t k = 0; k < W.size(); ++k) W[k] = reliability_sum_buffer[finished + 1 + k];
    beat_time = detail::searchBeat(std::move(W), frame_count, cc_shift_end, L, beat_time,
                                   tracking, std::cout);
  }

  const int recent_beat = detail::walkForward(beat_time, frame_count, cc_shift_end,
                                              static_cast<int>(kHistoryLength), interval_buffer,
                                              std::cout);

  interval = static_cast<int>(interval_buffer[0]);
  music_reliability = music_reliability_buffer[0];

  if (debug_flag) {
    interval_long_contrast_log << frameSeconds() << " " << cc_shift_start + choice.chosen << " "
                               << cc_shift_start + choice.peak << " "
                               << cc_shift_start + choice.second << " " << choice.peak_value << " "
                               << choice.second_value << std::endl;
    music_reli_log << frameSeconds() << " " << music_reliability << " " << interval << std::endl;
  }

  result.setInterval(interval);
  result.setBeatTimes(beat_time, frame_count);
  result.setRecentBeatTime(recent_beat, frame_count);
  result.setBeatType(static_cast<unsigned long>(beat_type));
  result.setMusicReliability(music_reliability);
  result.setSTPMVector(stpm);
  result.setOnsetVector(onset);
  result.setChromaVector(chroma);
  return result;
}

}  // namespace beat_tracker
