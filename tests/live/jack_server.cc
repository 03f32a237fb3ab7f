#include "jack_server.h"

#include <jack/jack.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <thread>

void JackServer::SetUp() {
  name_ = "tesk-live-test-" + std::to_string(::getpid());
  ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  pid_ = ::fork();
  ASSERT_GE(pid_, 0);
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int quiet = ::open("/dev/null", 01);
    ::dup2(quiet, 1);
    ::dup2(quiet, 2);
    ::execlp("jackd", "jackd", "-n", name_.c_str(), "--no-realtime", "-d", "dummy", "-r", "48000",
             "-p", "256", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Up when a client can open (within 10 s).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    jack_status_t status{};
    if (jack_client_t* c = jack_client_open("probe-up", JackNoStartServer, &status)) {
      jack_client_close(c);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  FAIL() << "the JACK server " << name_ << " did not come up within 10 s";
}

void JackServer::TearDown() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}
