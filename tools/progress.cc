#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace tesk_beat {

namespace {
constexpr double kLongInputSeconds = 30.0;
constexpr int kBarWidth = 30;
}  // namespace

Progress::Progress(const std::string& label, int64_t total, int sample_rate, bool wanted)
    : label_(label), total_(total) {
  active_ = wanted && total > 0 && sample_rate > 0 &&
            double(total) / sample_rate >= kLongInputSeconds && ::isatty(STDERR_FILENO);
  auto slash = label_.rfind('/');
  if (slash != std::string::npos) label_ = label_.substr(slash + 1);
  if (label_.size() > 40) label_ = "..." + label_.substr(label_.size() - 37);
}

Progress::~Progress() { clear(); }

void Progress::update(int64_t done) {
  if (!active_) return;
  int percent = int(100 * (done < total_ ? done : total_) / total_);
  if (percent == last_percent_) return;
  last_percent_ = percent;
  char bar[kBarWidth + 1];
  int filled = percent * kBarWidth / 100;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar, percent);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace tesk_beat
