// Where the trackers' console lines go. The stpm node and its engine write
// progress and beat lines to std::cout; a program that owns its standard
// output (the tool, a Vamp host, Python) routes them while it runs a
// tracker, without touching the lines' source.
#pragma once

namespace tesk_pipeline {

enum class ConsoleLines {
  kStandardOutput,  // as the node writes them
  kStandardError,
  kDiscard,
};

// While alive, std::cout written on this thread goes where `to` says;
// other threads write to std::cout as before. Routes nest and may live on
// several threads at once.
class ConsoleRoute {
 public:
  explicit ConsoleRoute(ConsoleLines to);
  ~ConsoleRoute();
  ConsoleRoute(const ConsoleRoute&) = delete;
  ConsoleRoute& operator=(const ConsoleRoute&) = delete;

 private:
  ConsoleLines previous_;
  bool installed_ = false;
};

}  // namespace tesk_pipeline
