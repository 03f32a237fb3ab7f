#include "messages.h"

#include <unistd.h>

namespace tesk_beat {

void complain(const std::string& message) {
  static const bool terminal = ::isatty(STDERR_FILENO) != 0;
  const std::string line = (terminal ? "\r\033[K" : "") + std::string("tesk-beat: ") + message + "\n";
  for (size_t done = 0; done < line.size();) {
    ssize_t w = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (w <= 0) return;
    done += size_t(w);
  }
}

}  // namespace tesk_beat
