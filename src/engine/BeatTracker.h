#ifndef BEAT_TRACKER_ENGINE_BEAT_TRACKER_H
#define BEAT_TRACKER_ENGINE_BEAT_TRACKER_H

#include <fstream>
#include <string>
#include <vector>

#include "engine/BeatTrackerData.h"
#include "engine/BeatTrackerInit.h"
#include "engine/OnsetHistory.h"
#include "engine/RingIBuffer.h"
#include "engine/TrackingState.h"

namespace beat_tracker {

// Real-time beat tracker. Constructed from its settings, then fed one linear
// magnitude spectrum (num_bins values) per frame through analyze().
//
// Throws std::invalid_argument from the constructor for settings whose
// lookups would leave the histories, and from analyze() for a spectrum of the
// wrong length.
class BeatTracker {
 public:
  explicit BeatTracker(BeatTrackerInit init);
  virtual ~BeatTracker();

  BeatTracker(const BeatTracker&) = delete;
  BeatTracker& operator=(const BeatTracker&) = delete;

  BeatTrackerData analyze(const std::vector<double>& spectrum);

  void SetFreqBank();
  std::vector<double> MelFilter(RingIBuffer<std::vector<double>>& spectra);
  std::vector<double> MakeIncSpec(RingIBuffer<std::vector<double>>& spectra);
  std::vector<double> Filter3x3(RingIBuffer<std::vector<double>>& frames, int (*kernel)[3]);
  std::vector<double> STPattanMatching(RingIBuffer<std::vector<double>>& onsets);
  std::vector<double> MakeChromaVec(RingIBuffer<std::vector<double>>& spectra);

 private:
  // Read-only view of the state for the unit tests.
  friend class BeatTrackerInspector;

  void computeMelEdges();
  void updateMelRanges(std::size_t spectrum_size);
  void openLogs();
  double frameSeconds() const;

  double sampling_freq;
  unsigned long num_bins;
  unsigned long shift_size;
  int num_mel_bands;
  int cc_shift_start;
  int cc_shift_end;
  int stpm_pattern_length;
  int stpm_band_begin;
  int stpm_band_end;
  bool debug_flag;
  std::vector<double> mel_bin_edges;
  // Only the newest spectrum and the three newest mel spectra are ever read,
  // so those two histories are kept that short.
  RingIBuffer<std::vector<double>> spec_buffer;
  RingIBuffer<std::vector<double>> mel_buffer;
  RingIBuffer<std::vector<double>> onset_buffer;
  RingIBuffer<double> onset_power_buffer;
  RingIBuffer<std::vector<double>> interval_pattern_buffer;
  RingIBuffer<double> reliability_sum_buffer;
  RingIBuffer<unsigned long> reliability_count_buffer;
  RingIBuffer<double> interval_buffer;
  RingIBuffer<double> music_reliability_buffer;
  std::vector<double> bin_cents;
  std::vector<double> bin_pitch_class;
  std::vector<double> bin_octave;
  int frames_per_window;
  std::string log_prefix;
  std::ofstream spec_log;
  std::ofstream inc_spec_log;
  std::ofstream mel_filter_bank_log;
  std::ofstream chroma_vector_log;
  std::ofstream inc_mel_log;
  std::ofstream interval_long_value_log;
  std::ofstream interval_value_log;
  std::ofstream interval_contrast_log;
  std::ofstream interval_long_contrast_log;
  std::ofstream beats_reliability_mask_log;
  std::ofstream beats_reliability_log;
  std::ofstream beats_times_log;
  std::ofstream flat_num_log;
  std::ofstream music_reli_log;
  int frame_count;
  int beat_time;
  int beat_type;
  int interval;
  double music_reliability;
  bool silent;
  // Tracking state carried from frame to frame and from one beat search to
  // the next; kept per engine so that engines never influence each other.
  TrackingState tracking;

  // Per-band, time-ordered copy of onset_buffer for pattern matching.
  OnsetHistory onset_history;
  // Per mel band, the first and one-past-last bin that can contribute.
  std::vector<std::size_t> mel_first_bin;
  std::vector<std::size_t> mel_end_bin;
  std::size_t mel_ranges_size;
  // Per-lag sums of the pattern matching, reused from frame to frame.
  std::vector<double> match_cross;
  std::vector<double> match_past;
};

}  // namespace beat_tracker

#endif
