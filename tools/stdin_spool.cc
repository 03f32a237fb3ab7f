#include "stdin_spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "audio_input.h"

namespace tesk_beat {

namespace {

// The first bytes of standard input, left in place for the reader (tee(2)
// copies a pipe's contents without consuming them); fewer when the
// stream ends or its writer is slow to start.
std::string peekPipe(size_t wanted) {
  int copy[2];
  if (::pipe2(copy, O_CLOEXEC) != 0) return "";
  std::string head;
  for (int attempt = 0; attempt < 200 && head.size() < wanted; ++attempt) {
    ssize_t n = ::tee(STDIN_FILENO, copy[1], wanted, 0);
    if (n < 0 && errno == EINTR) break;  // an interruption: let the reader see it
    if (n <= 0) break;                   // the end, or not a pipe
    std::vector<char> buf(static_cast<size_t>(n));
    if (::read(copy[0], buf.data(), buf.size()) != n) break;
    head.assign(buf.begin(), buf.end());
    if (head.size() < wanted) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::close(copy[0]);
  ::close(copy[1]);
  return head;
}

const char* seekingFormat(const std::string& head) {
  if (head.compare(0, 4, "fLaC") == 0) return "FLAC";
  if (head.compare(0, 4, "caff") == 0) return "CAF";
  if (head.compare(0, 4, "Crea") == 0) return "VOC";
  if (head.compare(0, 4, "RF64") == 0) return "RF64";
  return nullptr;
}

}  // namespace

int spoolStandardInputIfNeeded(const std::string& name, std::string* format) {
  struct stat st {};
  if (::fstat(STDIN_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) return -1;
  const char* which = seekingFormat(peekPipe(4));
  if (!which) return -1;
  if (format) *format = which;
  char templ[] = "./.standard-input.XXXXXX";
  int fd = ::mkstemp(templ);
  auto fail = [&](int why) {
    if (fd >= 0) ::close(fd);
    throw InputError(name + ": cannot hold the " + which +
                     " stream in a temporary file, as decoding it needs: " + std::strerror(why) +
                     " (give its file name instead)");
  };
  if (fd < 0) fail(errno);
  ::unlink(templ);  // private from the start; gone with the descriptor
  std::vector<char> buf(1 << 16);
  while (true) {
    ssize_t n = ::read(STDIN_FILENO, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno);
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(fd, buf.data() + done, size_t(n - done));
      if (w < 0 && errno != EINTR) fail(errno);
      if (w > 0) done += w;
    }
  }
  if (::lseek(fd, 0, SEEK_SET) != 0) fail(errno);
  return fd;
}

}  // namespace tesk_beat
