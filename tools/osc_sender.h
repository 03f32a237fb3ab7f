// Sends each announced beat to an OSC receiver (liblo): the message
// "/tesk/beat" with the beat's time in seconds since the start of the
// input (double), its tempo in BPM (float), its confidence (float),
// whether it is reliable (int 0 or 1) and where it falls in its bar (int,
// 1 = the downbeat, 0 = no bar known; last, so that receivers reading the
// first four go on working).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tesk-music/pipeline/tracker.h"

namespace tesk_beat {

inline constexpr const char* kOscBeatPath = "/tesk/beat";

// Why `url` is not an OSC address tesk-beat can send to, or "":
// osc.udp://HOST:PORT, osc.tcp://HOST:PORT or osc.unix:///PATH.
std::string oscUrlProblem(const std::string& url);

class OscSender {
 public:
  // Resolves the host now, so that a misspelt one is said before tracking
  // starts. Throws std::runtime_error naming the URL.
  explicit OscSender(const std::string& url);
  ~OscSender();
  OscSender(const OscSender&) = delete;
  OscSender& operator=(const OscSender&) = delete;

  // False when the message could not be sent (a TCP receiver gone, an
  // unreachable network); error() says why. UDP cannot tell whether anyone
  // listens, so sending to a closed port succeeds.
  bool send(const tesk_pipeline::Beat& beat);
  const std::string& error() const { return error_; }
  const std::string& url() const { return url_; }

 private:
  std::string url_;
  void* address_ = nullptr;  // liblo's lo_address
  std::string error_;
};

// The receivers of --osc: each beat goes to all of them; one that cannot
// be reached is said once and sent nothing more, and tracking goes on.
class OscReceivers {
 public:
  // Throws std::runtime_error naming the URL that cannot be used.
  explicit OscReceivers(const std::vector<std::string>& urls);

  // `complain` receives the message of a receiver given up.
  void send(const tesk_pipeline::Beat& beat, const std::function<void(const std::string&)>& complain);
  // A receiver was given up.
  bool failed() const { return failed_; }

 private:
  std::vector<std::unique_ptr<OscSender>> senders_;
  bool failed_ = false;
};

}  // namespace tesk_beat
