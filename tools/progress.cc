#include "progress.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <new>

namespace tesk_beat {

namespace {

constexpr double kLongRunSeconds = 30.0;
constexpr int kBarWidth = 30;

bool sameTerminal(int a, int b) {
  struct stat sa {}, sb {};
  return ::isatty(a) && ::isatty(b) && ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 &&
         sa.st_rdev == sb.st_rdev;
}

void put(const std::string& s) {
  for (size_t done = 0; done < s.size();) {
    ssize_t w = ::write(STDERR_FILENO, s.data() + done, s.size() - done);
    if (w <= 0) return;
    done += size_t(w);
  }
}

}  // namespace

ProgressBar::ProgressBar(size_t inputs, bool wanted, int data_fd) : inputs_(inputs) {
  if (!wanted || inputs == 0 || !::isatty(STDERR_FILENO) || sameTerminal(STDERR_FILENO, data_fd))
    return;
  void* shared = ::mmap(nullptr, sizeof(ProgressSlot) * inputs, PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return;  // no bar, nothing else lost
  slots_ = static_cast<ProgressSlot*>(shared);
  for (size_t i = 0; i < inputs; ++i) new (&slots_[i]) ProgressSlot();
}

ProgressBar::~ProgressBar() {
  clear();
  if (slots_) ::munmap(slots_, sizeof(ProgressSlot) * inputs_);
}

ProgressSlot* ProgressBar::slot(size_t i) { return slots_ ? &slots_[i] : nullptr; }

void ProgressBar::draw(const std::string& single_label) {
  if (!slots_) return;
  double seconds = 0.0, fraction = 0.0;
  size_t finished = 0;
  for (size_t i = 0; i < inputs_; ++i) {
    const ProgressSlot& s = slots_[i];
    const int64_t total = s.total, done = s.done;
    const int rate = s.rate;
    if (total > 0 && rate > 0) seconds += double(total) / rate;
    if (s.finished) {
      ++finished;
      fraction += 1.0;
    } else if (total > 0) {
      fraction += double(std::min(done, total)) / double(total);
    }
  }
  if (seconds < kLongRunSeconds) return;
  const int percent = int(100.0 * fraction / double(inputs_));
  std::string label = single_label;
  if (inputs_ > 1) label = std::to_string(finished) + "/" + std::to_string(inputs_) + " inputs";
  const int filled = percent * kBarWidth / 100;
  char line[128];
  std::snprintf(line, sizeof line, "\r%s [%s%s] %3d%%", label.c_str(),
                std::string(size_t(filled), '#').c_str(),
                std::string(size_t(kBarWidth - filled), '.').c_str(), percent);
  // Drawn again each time: a message may have cleared the line meanwhile.
  last_ = line;
  put(last_);
}

void ProgressBar::clear() {
  if (last_.empty()) return;
  put("\r\033[K");
  last_.clear();
}

}  // namespace tesk_beat
