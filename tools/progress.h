// A one-line progress bar on standard error, shown only when standard error
// is a terminal and the input is long enough for it to matter.
#pragma once

#include <cstdint>
#include <string>

namespace tesk_beat {

class Progress {
 public:
  // `total` frames of input (<= 0: unknown length, nothing shown).
  Progress(const std::string& label, int64_t total, int sample_rate, bool wanted);
  ~Progress();
  void update(int64_t done);
  void clear();

 private:
  std::string label_;
  int64_t total_;
  bool shown_ = false;
  bool active_ = false;
  int last_percent_ = -1;
};

}  // namespace tesk_beat
