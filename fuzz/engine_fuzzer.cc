// Arbitrary settings and spectra into the engine's public API
// (beat_tracker::BeatTrackerInit, beat_tracker::BeatTracker::analyze).
//
// Layout: byte 0 holds flags (diagnostic files on, settings as raw doubles,
// spectra as raw doubles); then the sampling frequency, window, advance,
// interval range, the number of frames, the period of the frame pattern and
// one frame of the wrong length; the rest are the values of the spectra,
// used cyclically, either as raw doubles or one byte each with bytes
// 250-255 standing for 1e308, -1, the smallest denormal, -inf, +inf and NaN.
// Frame f shows spectrum f mod period, so that a short input still makes a
// periodic signal the tracker can follow for hundreds of frames.
//
// Settings the engine cannot use must be refused with std::invalid_argument,
// and so must a spectrum of the wrong length, after which the engine goes on
// as if the frame had not been given. Two engines fed the same frames in turn
// must give the same bits (nothing shared between engines, nothing
// uninitialised read), and every result must stay in its range. Anything else
// is a fault: a crash, a sanitizer report, another exception, a hang.
//
// The engine creates its diagnostic files in the working directory: run the
// target in a scratch directory (scripts/fuzz.sh does).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/BeatTracker.h"
#include "engine/EngineLimits.h"

namespace {

// Enough frames for several beat searches with short intervals. Pattern
// matching costs about 62 bands x cc_shift_end x lags steps per frame; the
// frames of one input are also bounded by a number of such steps, so that
// long interval ranges stay quick too.
constexpr int kMaxFrames = 400;
constexpr double kWorkPerInput = 3e7;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  unsigned u16() { return byte() | unsigned(byte()) << 8; }
  double rawDouble() {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= uint64_t(byte()) << (8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  const uint8_t* rest() const { return data_ + pos_; }
  size_t restSize() const { return pos_ < size_ ? size_ - pos_ : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

double valueOfByte(uint8_t b) {
  switch (b) {
    case 255: return std::numeric_limits<double>::quiet_NaN();
    case 254: return std::numeric_limits<double>::infinity();
    case 253: return -std::numeric_limits<double>::infinity();
    case 252: return std::numeric_limits<double>::denorm_min();
    case 251: return -1.0;
    case 250: return 1e308;
    default: return b / 16.0;
  }
}

// The spectrum values, read cyclically from the input's tail.
class ValuePool {
 public:
  ValuePool(const uint8_t* data, size_t size, bool raw) {
    if (raw) {
      for (size_t i = 0; i + 8 <= size; i += 8) {
        double v;
        std::memcpy(&v, data + i, sizeof v);
        values_.push_back(v);
      }
    } else {
      for (size_t i = 0; i < size; ++i) values_.push_back(valueOfByte(data[i]));
    }
  }
  double at(size_t i) const { return values_.empty() ? 0.0 : values_[i % values_.size()]; }

 private:
  std::vector<double> values_;
};

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool sameBits(const beat_tracker::BeatTrackerData& a, const beat_tracker::BeatTrackerData& b) {
  return sameBits(a.getInterval(), b.getInterval()) &&
         sameBits(a.getCurrentTime(), b.getCurrentTime()) &&
         sameBits(a.getBeatTime(), b.getBeatTime()) &&
         sameBits(a.getRecentBeatTime(), b.getRecentBeatTime()) &&
         sameBits(a.getMusicReliability(), b.getMusicReliability()) &&
         sameBits(a.onset_vector, b.onset_vector) && sameBits(a.stpm_vector, b.stpm_vector) &&
         sameBits(a.chroma_vector, b.chroma_vector);
}

void checkRanges(const beat_tracker::BeatTrackerData& r, int lags) {
  if (r.onset_vector.size() != 64 || r.chroma_vector.size() != 12 ||
      r.stpm_vector.size() != size_t(lags))
    __builtin_trap();
  const double reliability = r.getMusicReliability();
  if (!(reliability >= 0.0 && reliability <= 1.0)) __builtin_trap();
  // The guards on the settings exist so that no interval leaves the histories.
  const double interval = r.getInterval();
  if (!(interval >= 0.0 && interval <= beat_tracker::kMaxInterval)) __builtin_trap();
  if (!(r.getBeatTime() <= r.getCurrentTime() && r.getRecentBeatTime() <= r.getCurrentTime()))
    __builtin_trap();
}

std::unique_ptr<beat_tracker::BeatTracker> build(const beat_tracker::BeatTrackerInit& init) {
  try {
    return std::make_unique<beat_tracker::BeatTracker>(init);
  } catch (const std::invalid_argument& e) {
    if (std::string(e.what()).empty()) __builtin_trap();
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  const uint8_t flags = in.byte();
  const bool debug = flags & 1, raw_settings = flags & 2, raw_values = flags & 4;

  static const double kRates[] = {16000.0, 44100.0, 8000.0, 1.0, 0.0, -16000.0,
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity()};
  const double rate = raw_settings ? in.rawDouble() : kRates[in.byte() % 8];
  const unsigned long window = in.u16() % 8193;
  const unsigned long advance = in.u16() % 4097;
  double start, end;
  if (raw_settings) {
    start = in.rawDouble();
    end = in.rawDouble();
  } else {
    start = in.u16() % 1100;
    end = start + in.u16() % 1100 - 8;
  }
  const int requested_frames = 1 + int(in.u16() % kMaxFrames);
  const int period = 1 + in.byte() % 128;
  const int wrong_frame = in.byte();      // this frame comes first with a wrong length
  const int wrong_by = int(in.byte()) - 128;  // values too many (or too few)
  ValuePool pool(in.rest(), in.restSize(), raw_values);

  beat_tracker::BeatTrackerInit init;
  init.setInputSignal(rate, window, advance);
  init.setCCValues(end, start, end);
  init.setDebugFlag(debug, "a_");
  std::unique_ptr<beat_tracker::BeatTracker> first = build(init);
  init.setDebugFlag(debug, "b_");
  std::unique_ptr<beat_tracker::BeatTracker> second = build(init);
  if (!first != !second) __builtin_trap();  // the same settings, the same answer
  if (!first) return 0;
  // What the engine accepted must lie within its limits.
  if (!(advance > 0 && window / 2 > 0 && start >= beat_tracker::kMinShiftStart &&
        end >= int(start) + 2 && end < beat_tracker::kMaxShiftEnd + 1))
    __builtin_trap();

  const unsigned long bins = window / 2;
  const int lags = int(end) - int(start);
  const double work = 62.0 * int(end) * lags + 1.0;
  const int frames = int(std::max(1.0, std::min<double>(requested_frames, kWorkPerInput / work)));

  std::vector<double> spectrum;
  for (int f = 0; f < frames; ++f) {
    if (f == wrong_frame && wrong_by != 0) {
      spectrum.assign(size_t(std::max(0L, long(bins) + wrong_by)), 1.0);
      for (beat_tracker::BeatTracker* engine : {first.get(), second.get()}) {
        try {
          engine->analyze(spectrum);
          __builtin_trap();
        } catch (const std::invalid_argument&) {
        }
      }
    }
    const size_t base = size_t(f % period) * bins;
    spectrum.resize(bins);
    for (size_t j = 0; j < bins; ++j) spectrum[j] = pool.at(base + j);
    const beat_tracker::BeatTrackerData a = first->analyze(spectrum);
    const beat_tracker::BeatTrackerData b = second->analyze(spectrum);
    if (!sameBits(a, b)) __builtin_trap();
    checkRanges(a, lags);
  }
  return 0;
}
