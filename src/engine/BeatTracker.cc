// Construction, settings checks, pitch and mel tables, diagnostic files.
#include "engine/BeatTracker.h"

#include <climits>
#include <cmath>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "engine/EngineLimits.h"
#include "engine/TrackingSteps.h"

namespace beat_tracker {
namespace {

template <typename T>
std::string text(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Rejects settings whose per-frame lookups would leave the histories.
void checkSettings(const BeatTrackerInit& init) {
  if (init.getShiftSize() == 0)
    throw std::invalid_argument("BeatTracker: shift_size must be greater than 0 (got 0)");
  if ((init.getWindowSize() >> 1) == 0)
    throw std::invalid_argument("BeatTracker: window_size " + text(init.getWindowSize()) +
                                " gives no spectrum bins (at least 2 samples needed)");
  const double start = init.getCcShiftStart();
  const double end = init.getCcShiftEnd();
  if (!(start >= kMinShiftStart))
    throw std::invalid_argument("BeatTracker: cc_shift_start " + text(start) +
                                " is below " + text(kMinShiftStart) + " frames");
  if (!(start < kMaxShiftEnd + 1))
    throw std::invalid_argument("BeatTracker: cc_shift_start " + text(start) + " exceeds " +
                                text(kMaxShiftEnd) + " frames: three intervals must fit in the " +
                                text(kHistoryLength) + "-frame histories");
  const int s0 = static_cast<int>(start);
  if (!(end >= s0 + 2))
    throw std::invalid_argument("BeatTracker: cc_shift_end " + text(end) +
                                " is below cc_shift_start + 2 = " + text(s0 + 2) + " frames");
  if (!(end < kMaxShiftEnd + 1))
    throw std::invalid_argument("BeatTracker: cc_shift_end " + text(end) + " exceeds " +
                                text(kMaxShiftEnd) + " frames: three intervals must fit in the " +
                                text(kHistoryLength) + "-frame histories");
  // The continuity rule can carry the interval past cc_shift_end - 1 when
  // cc_shift_start is large against the range.
  const int largest = detail::largestReachableInterval(s0, static_cast<int>(end));
  if (largest > kMaxInterval)
    throw std::invalid_argument("BeatTracker: cc_shift_start " + text(start) +
                                " with cc_shift_end " + text(end) +
                                " lets the interval reach " + text(largest) +
                                " frames: three intervals must fit in the " +
                                text(kHistoryLength) + "-frame histories (at most " +
                                text(kMaxInterval) + " frames each)");
}

const char* const kLogNames[14] = {
    "spec.dat",
    "inc_spec.dat",
    "melfilterbank.dat",
    "chroma_vector.dat",
    "inc_mel.dat",
    "interval_long_value.dat",
    "interval_value.dat",
    "interval_contrast.dat",
    "interval_long_contrast.dat",
    "beats_reliability_mask.dat",
    "beats_reliability.dat",
    "beats_times.dat",
    "flat_num.dat",
    "music_reli.dat",
};

}  // namespace

BeatTracker::BeatTracker(BeatTrackerInit init)
    : sampling_freq(0.0),
      num_bins(0),
      shift_size(0),
      num_mel_bands(0),
      cc_shift_start(0),
      cc_shift_end(0),
      stpm_pattern_length(0),
      stpm_band_begin(0),
      stpm_band_end(0),
      debug_flag(false),
      spec_buffer(1),
      mel_buffer(3),
      onset_buffer(kHistoryLength),
      onset_power_buffer(kHistoryLength),
      interval_pattern_buffer(kHistoryLength),
      reliability_sum_buffer(kHistoryLength),
      reliability_count_buffer(kHistoryLength),
      interval_buffer(kHistoryLength),
      music_reliability_buffer(kHistoryLength),
      frames_per_window(0),
      frame_count(0),
      beat_time(0),
      beat_type(0),
      interval(0),
      music_reliability(0.0),
      silent(false),
      mel_ranges_size(0) {
  checkSettings(init);

  sampling_freq = init.getSamplingFreq();
  num_bins = init.getWindowSize() >> 1;
  shift_size = init.getShiftSize();
  frames_per_window = static_cast<int>(init.getWindowSize() / shift_size);
  debug_flag = init.getDebugFlag();
  log_prefix = init.getLogPrefix() + "bt_";

  num_mel_bands = 64;
  cc_shift_start = static_cast<int>(init.getCcShiftStart());
  cc_shift_end = static_cast<int>(init.getCcShiftEnd());
  stpm_pattern_length = cc_shift_end;
  std::cout << "DEBUG" << stpm_pattern_length << cc_shift_start << cc_shift_end << std::endl;

  stpm_band_begin = 1;
  stpm_band_end = 63;

  computeMelEdges();
  SetFreqBank();

  interval_buffer.init(0.0);
  spec_buffer.init(std::vector<double>(num_bins, 0.0));
  mel_buffer.init(std::vector<double>(static_cast<std::size_t>(num_mel_bands), 0.0));
  onset_buffer.init(std::vector<double>(static_cast<std::size_t>(num_mel_bands), 0.0));
  onset_power_buffer.init(0.0);
  interval_pattern_buffer.init(std::vector<double>(static_cast<std::size_t>(cc_shift_end), 0.0));
  reliability_sum_buffer.init(0.0);
  reliability_count_buffer.init(0);
  music_reliability_buffer.init(0.0);
  onset_history.reset(stpm_band_begin, stpm_band_end,
                      static_cast<std::size_t>(stpm_pattern_length + cc_shift_end - 1));

  openLogs();

  frame_count = frames_per_window / 2 - 1;
  beat_time = 0;
  beat_type = 0;
  interval = 0;
  music_reliability = 0.0;
  silent = false;

  std::cout << "beat_tracking initialize ended" << std::endl;
}

BeatTracker::~BeatTracker() = default;

void BeatTracker::computeMelEdges() {
  const double bin_width = sampling_freq / static_cast<double>(2 * num_bins);
  const double top = 2595.0 * std::log10(static_cast<double>(num_bins) * bin_width / 700.0 + 1.0);
  const double step = top / num_mel_bands;
  mel_bin_edges.assign(static_cast<std::size_t>(num_mel_bands) + 2, 0.0);
  mel_bin_edges[0] = 0.0;
  for (int i = 1; i <= num_mel_bands; ++i)
    mel_bin_edges[static_cast<std::size_t>(i)] =
        ((std::pow(10.0, (i * step) / 2595.0) - 1.0) * 700.0) / bin_width;
  mel_bin_edges[static_cast<std::size_t>(num_mel_bands) + 1] = static_cast<double>(num_bins);
}

void BeatTracker::SetFreqBank() {
  bin_cents.reserve(num_bins);
  bin_octave.reserve(num_bins);
  bin_pitch_class.reserve(num_bins);
  const double f0 = 440.0 * std::pow(2.0, -4.75);
  for (unsigned long i = 0; i < num_bins; ++i) {
    const double cents = 1200.0 * std::log2(static_cast<double>(i) / f0);
    // Bin 0 lies at minus infinity cents: give it a negative note number
    // explicitly instead of converting an infinity.
    const int note = i == 0 ? INT_MIN + 5 : static_cast<int>(cents / 100.0 + 0.5) + 5;
    double octave;
    double pitch_class;
    if (note >= 0) {
      octave = note / 12;
      pitch_class = note % 12;
    } else {
      // Read as unsigned, a negative note lands far above octave 9.
      const unsigned int u = static_cast<unsigned int>(note);
      octave = u / 12u;
      pitch_class = u % 12u;
    }
    bin_cents.push_back(cents);
    bin_octave.push_back(octave);
    bin_pitch_class.push_back(pitch_class);
  }
}

void BeatTracker::openLogs() {
  std::ofstream* const streams[14] = {
      &spec_log,           &inc_spec_log,
      &mel_filter_bank_log, &chroma_vector_log,
      &inc_mel_log,        &interval_long_value_log,
      &interval_value_log, &interval_contrast_log,
      &interval_long_contrast_log, &beats_reliability_mask_log,
      &beats_reliability_log, &beats_times_log,
      &flat_num_log,       &music_reli_log,
  };
  for (int i = 0; i < 14; ++i) {
    const std::string path = log_prefix + kLogNames[i];
    streams[i]->open(path, std::ios::out | std::ios::trunc);
    // Only worth a word when the files are meant to be written.
    if (!streams[i]->is_open() && debug_flag)
      std::cerr << "beat_tracker: cannot open diagnostic file " << path << std::endl;
  }
}

double BeatTracker::frameSeconds() const {
  return static_cast<double>(static_cast<unsigned long>(frame_count) * shift_size) / sampling_freq;
}

}  // namespace beat_tracker
