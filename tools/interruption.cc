#include "interruption.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace tesk_beat {

namespace {

volatile sig_atomic_t g_interruption = 0;
volatile sig_atomic_t g_stream_flags = -1;  // standard input's flags when it is the input

void onInterruption(int sig) {
  if (!g_interruption) g_interruption = sig;
  const int flags = g_stream_flags;
  if (flags >= 0) ::fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

void catchInterruptions(bool stream_input) {
  if (stream_input) g_stream_flags = ::fcntl(STDIN_FILENO, F_GETFL);
  struct sigaction sa {};
  sa.sa_handler = onInterruption;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns to look
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

int interruption() { return g_interruption; }

void restoreStandardInput() {
  const int flags = g_stream_flags;
  if (flags >= 0) ::fcntl(STDIN_FILENO, F_SETFL, flags);
}

}  // namespace tesk_beat
