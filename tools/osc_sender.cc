#include "osc_sender.h"

#include <lo/lo.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace tesk_beat {

namespace {

struct Parsed {
  std::string protocol, host, port, path;
};

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// liblo's own parser prints to standard error on a bad URL and accepts an
// empty host, so the URL is checked here first.
std::string parse(const std::string& url, Parsed& p) {
  const std::string usage = " (use osc.udp://HOST:PORT, osc.tcp://HOST:PORT or osc.unix:///PATH)";
  if (startsWith(url, "osc.unix://")) {
    p.protocol = "unix";
    p.path = url.substr(11);
    if (p.path.empty() || p.path[0] != '/') return "'" + url + "' names no socket path" + usage;
    return "";
  }
  if (startsWith(url, "osc.udp://")) p.protocol = "udp";
  else if (startsWith(url, "osc.tcp://")) p.protocol = "tcp";
  else return "'" + url + "' is not an OSC URL" + usage;
  std::string rest = url.substr(10);
  if (const auto slash = rest.find('/'); slash != std::string::npos) {
    if (rest.find_first_not_of('/', slash) != std::string::npos)
      return "'" + url + "': a path after the port is not supported" + usage;
    rest.erase(slash);
  }
  const auto colon = rest.rfind(':');
  if (colon == std::string::npos) return "'" + url + "' names no port" + usage;
  p.host = rest.substr(0, colon);
  p.port = rest.substr(colon + 1);
  if (p.host.size() >= 2 && p.host.front() == '[' && p.host.back() == ']')
    p.host = p.host.substr(1, p.host.size() - 2);
  if (p.host.empty()) return "'" + url + "' names no host" + usage;
  char* end = nullptr;
  const long port = std::strtol(p.port.c_str(), &end, 10);
  if (p.port.empty() || *end != '\0' || port < 1 || port > 65535)
    return "'" + url + "': the port must be a number from 1 to 65535";
  return "";
}

}  // namespace

std::string oscUrlProblem(const std::string& url) {
  Parsed p;
  return parse(url, p);
}

OscSender::OscSender(const std::string& url) : url_(url) {
  Parsed p;
  if (const std::string problem = parse(url, p); !problem.empty())
    throw std::runtime_error("--osc: " + problem);
  if (p.protocol != "unix") {
    addrinfo hints{};
    hints.ai_socktype = p.protocol == "udp" ? SOCK_DGRAM : SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = getaddrinfo(p.host.c_str(), p.port.c_str(), &hints, &found); e != 0)
      throw std::runtime_error("--osc " + url + ": cannot resolve '" + p.host +
                               "': " + gai_strerror(e));
    freeaddrinfo(found);
  }
  address_ = p.protocol == "unix"
                 ? lo_address_new_with_proto(LO_UNIX, nullptr, p.path.c_str())
                 : lo_address_new_with_proto(p.protocol == "udp" ? LO_UDP : LO_TCP,
                                             p.host.c_str(), p.port.c_str());
  if (!address_) throw std::runtime_error("--osc " + url + ": cannot create the address");
}

OscSender::~OscSender() {
  if (address_) lo_address_free(static_cast<lo_address>(address_));
}

bool OscSender::send(const tesk_pipeline::Beat& b) {
  lo_address a = static_cast<lo_address>(address_);
  // A float receivers can take: 0 before the tracker has any tempo.
  const float tempo = std::isfinite(b.tempo) ? b.tempo : 0.0f;
  if (lo_send(a, kOscBeatPath, "dffii", b.time, tempo, b.confidence, b.reliable ? 1 : 0,
              b.beat_in_bar) >= 0)
    return true;
  const char* why = lo_address_errstr(a);
  error_ = "--osc " + url_ + ": " + (why && *why ? why : "cannot send");
  return false;
}

OscReceivers::OscReceivers(const std::vector<std::string>& urls) {
  for (const std::string& url : urls) senders_.push_back(std::make_unique<OscSender>(url));
}

void OscReceivers::send(const tesk_pipeline::Beat& beat,
                        const std::function<void(const std::string&)>& complain) {
  for (auto& sender : senders_) {
    if (!sender || sender->send(beat)) continue;
    failed_ = true;
    complain(sender->error() + "; no more beats are sent there");
    sender.reset();
  }
}

}  // namespace tesk_beat
