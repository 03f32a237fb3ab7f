#ifndef BEAT_TRACKER_TEST_SUPPORT_ENGINE_TEST_SUPPORT_H
#define BEAT_TRACKER_TEST_SUPPORT_ENGINE_TEST_SUPPORT_H

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/BeatTracker.h"
#include "engine/BeatTrackerInit.h"
#include "engine/RingIBuffer.h"

namespace beat_tracker {

// Read-only access to engine state (declared a friend by the engine).
class BeatTrackerInspector {
 public:
  static const std::vector<double>& melEdges(const BeatTracker& e) { return e.mel_bin_edges; }
  static const std::vector<double>& binOctave(const BeatTracker& e) { return e.bin_octave; }
  static const std::vector<double>& binPitchClass(const BeatTracker& e) { return e.bin_pitch_class; }
  static const std::vector<double>& binCents(const BeatTracker& e) { return e.bin_cents; }
  static int frameCount(const BeatTracker& e) { return e.frame_count; }
  static int framesPerWindow(const BeatTracker& e) { return e.frames_per_window; }
  static unsigned long numBins(const BeatTracker& e) { return e.num_bins; }
  static int ccShiftStart(const BeatTracker& e) { return e.cc_shift_start; }
  static int ccShiftEnd(const BeatTracker& e) { return e.cc_shift_end; }
  static int patternLength(const BeatTracker& e) { return e.stpm_pattern_length; }
};

}  // namespace beat_tracker

namespace beat_tracker_test {

// A fresh directory under the system temporary directory, removed with
// everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bt_engine_XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Log prefix that puts the diagnostic files in this directory.
  std::string prefix() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

// Redirects std::cout (or another stream) into a string while alive.
class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& stream = std::cout) : stream_(stream), old_(stream.rdbuf(buffer_.rdbuf())) {}
  ~StreamCapture() { stream_.rdbuf(old_); }
  std::string text() const { return buffer_.str(); }

 private:
  std::ostream& stream_;
  std::ostringstream buffer_;
  std::streambuf* old_;
};

inline beat_tracker::BeatTrackerInit makeInit(double fs, unsigned long window, unsigned long shift,
                                              double start, double end, bool debug,
                                              const std::string& prefix) {
  beat_tracker::BeatTrackerInit init;
  init.setInputSignal(fs, window, shift);
  init.setCCValues(end, start, end);
  init.setDebugFlag(debug, prefix);
  return init;
}

// Setting used throughout: 16 kHz, window 512, shift 160 (100 frames per
// second), intervals 51 to 99 frames.
inline beat_tracker::BeatTrackerInit settingA(const std::string& prefix, bool debug = false) {
  return makeInit(16000.0, 512, 160, 51.0, 100.0, debug, prefix);
}

// Builds an engine with its console lines swallowed.
inline std::unique_ptr<beat_tracker::BeatTracker> quietEngine(const beat_tracker::BeatTrackerInit& init) {
  StreamCapture capture;
  return std::make_unique<beat_tracker::BeatTracker>(init);
}

inline std::vector<std::string> readLines(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Pattern matching written out as plain loops over the ring.
inline std::vector<double> referencePatternMatching(RingIBuffer<std::vector<double>>& onsets,
                                                    int s0, int s1) {
  const int P = s1;
  std::vector<double> R(static_cast<std::size_t>(s1 - s0), 0.0);
  for (int s = s0; s < s1; ++s) {
    double cross = 0, now = 0, past = 0;
    for (int f = 1; f < 63; ++f) {
      for (int t = 0; t < P; ++t) {
        const double x = onsets[static_cast<unsigned long>(t)][static_cast<std::size_t>(f)];
        const double y = onsets[static_cast<unsigned long>(t + s)][static_cast<std::size_t>(f)];
        cross += y * x;
        now += x * x;
        past += y * y;
      }
    }
    if (now != 0 && past != 0) R[static_cast<std::size_t>(s - s0)] = ((cross * cross) / now) / past;
  }
  return R;
}

// Mel filter written out over every bin of every band.
inline std::vector<double> referenceMelFilter(const std::vector<double>& edges,
                                              const std::vector<double>& S) {
  std::vector<double> M(edges.size() - 2, 0.0);
  for (std::size_t i = 1; i <= edges.size() - 2; ++i) {
    const double lo = edges[i - 1], mid = edges[i], hi = edges[i + 1];
    for (std::size_t j = 0; j < S.size(); ++j) {
      const double x = static_cast<double>(j);
      if (lo <= x && x <= mid)
        M[i - 1] += ((x - lo) * S[j]) / (mid - lo);
      else if (mid < x && x <= hi)
        M[i - 1] += ((hi - x) * S[j]) / (hi - mid);
    }
  }
  return M;
}

// Bitwise equality of two vectors of doubles (NaN payloads and signed zeros
// included).
inline bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

}  // namespace beat_tracker_test

#endif
