// One progress bar for the whole run, on standard error, drawn by the
// supervisor alone: each worker only records how far its input has come in
// a slot of memory shared with it. The bar is shown when standard error is
// a terminal, the run holds 30 s of audio or more, and standard output is
// not the same terminal (beat lines would mix with it).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tesk_beat {

// How far one input has come; written by its worker.
struct ProgressSlot {
  std::atomic<int64_t> total{0};  // frames announced; <= 0 when unknown
  std::atomic<int64_t> done{0};   // frames read
  std::atomic<int> rate{0};
  std::atomic<bool> finished{false};
};

class ProgressBar {
 public:
  // `wanted`: --no-progress or --verbose not given; `data_fd`: standard
  // output, which must not be the terminal of standard error.
  ProgressBar(size_t inputs, bool wanted, int data_fd);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Where input `i`'s worker records its progress; null when no bar is
  // possible.
  ProgressSlot* slot(size_t i);
  // Whether the supervisor should keep redrawing while it waits.
  bool possible() const { return slots_ != nullptr; }
  // Draws the bar from the slots (when the run is long enough).
  void draw(const std::string& single_label);
  void clear();

 private:
  ProgressSlot* slots_ = nullptr;
  size_t inputs_;
  std::string last_;
};

}  // namespace tesk_beat
