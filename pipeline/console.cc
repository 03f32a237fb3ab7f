#include "tesk-music/pipeline/console.h"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <streambuf>

namespace tesk_pipeline {

namespace {

thread_local ConsoleLines t_route = ConsoleLines::kStandardOutput;

// Stands in for std::cout's buffer while any route is alive: each write
// goes where its own thread's route says. It buffers nothing, so threads
// writing at once share no state of its own.
class RoutingBuffer : public std::streambuf {
 public:
  std::streambuf* original = nullptr;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    switch (t_route) {
      case ConsoleLines::kDiscard: return n;
      case ConsoleLines::kStandardError:
        return std::streamsize(std::fwrite(s, 1, size_t(n), stderr));
      default: return original->sputn(s, n);
    }
  }
  int sync() override {
    switch (t_route) {
      case ConsoleLines::kDiscard: return 0;
      case ConsoleLines::kStandardError: return std::fflush(stderr) == 0 ? 0 : -1;
      default: return original->pubsync();
    }
  }
};

std::mutex g_mutex;
int g_users = 0;
RoutingBuffer g_buffer;

}  // namespace

ConsoleRoute::ConsoleRoute(ConsoleLines to) : previous_(t_route) {
  if (to == ConsoleLines::kStandardOutput && previous_ == to) return;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_users++ == 0) {
      std::cout.flush();
      g_buffer.original = std::cout.rdbuf(&g_buffer);
    }
  }
  installed_ = true;
  t_route = to;
}

ConsoleRoute::~ConsoleRoute() {
  if (!installed_) return;
  std::cout.flush();
  t_route = previous_;
  std::lock_guard<std::mutex> lock(g_mutex);
  // A program that set its own buffer meanwhile keeps it.
  if (--g_users == 0 && std::cout.rdbuf() == &g_buffer) std::cout.rdbuf(g_buffer.original);
}

}  // namespace tesk_pipeline
