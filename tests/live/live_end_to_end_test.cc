// tesk-beat --jack end to end on a private server: the bundled example
// played into it by live_probe, which records the MIDI it sends back.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <lo/lo.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kRate = 48000;

// Runs `args` with standard output and error into files.
pid_t spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr))
      ::_exit(127);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Exit status (128 + signal when killed), or -1 if it did not end in time
// (it is then killed).
int waitFor(pid_t pid, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool portAppears(const std::string& port, double seconds) {
  jack_status_t status{};
  jack_client_t* c = jack_client_open("port-watch", JackNoStartServer, &status);
  if (!c) return false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  bool found = false;
  while (!found && std::chrono::steady_clock::now() < until) {
    found = jack_port_by_name(c, port.c_str()) != nullptr;
    if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  jack_client_close(c);
  return found;
}

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Beats received by an OSC server on the loopback (times in seconds).
struct OscBeats {
  std::mutex mutex;
  std::vector<double> times;
  std::vector<std::string> types;
};

int onOscBeat(const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
  auto* beats = static_cast<OscBeats*>(data);
  if (argc >= 1 && types[0] == 'd') {
    std::lock_guard<std::mutex> lock(beats->mutex);
    // liblo's arguments need not be aligned for their type: copied out.
    double time = 0.0;
    std::memcpy(&time, static_cast<const void*>(argv[0]), sizeof time);
    beats->times.push_back(time);
    beats->types.push_back(types);
  }
  return 0;
}

int64_t nearestDistance(const std::vector<int64_t>& frames, int64_t to) {
  int64_t best = INT64_MAX;
  for (int64_t f : frames) best = std::min<int64_t>(best, std::llabs(f - to));
  return best;
}

}  // namespace

// The example's known beats come out as MIDI notes at their frames, as the
// beat lines on standard output and as OSC messages, with a MIDI clock
// started, ticking and stopped; SIGINT ends the run with status 0 and a
// complete block.
TEST(LiveMode, ExampleBeatsAsMidiNotesClockLinesAndOsc) {
  char dir_template[] = "/tmp/tesk-live-e2e-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  OscBeats osc_beats;
  lo_server_thread osc = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
  ASSERT_NE(osc, nullptr);
  lo_server_thread_add_method(osc, "/tesk/beat", nullptr, onOscBeat, &osc_beats);
  lo_server_thread_start(osc);
  const std::string osc_url =
      "osc.udp://127.0.0.1:" + std::to_string(lo_server_thread_get_port(osc));
  const std::string client = "live-e2e-" + std::to_string(::getpid());
  const pid_t beat = spawn({TESK_BEAT, "--jack=" + client, "--midi-out", "--midi-clock",
                            "--format", "csv", "--osc", osc_url, "--plugin", TESK_PLUGIN},
                           dir + "/beats.csv", dir + "/beat.err");
  ASSERT_TRUE(portAppears(client + ":midi_out", 10)) << slurp(dir + "/beat.err");

  constexpr double kSeconds = 12;
  const pid_t probe = spawn({LIVE_PROBE, "--audio", std::string(EXAMPLES) + "/groove.flac",
                             "--seconds", std::to_string(kSeconds), "--play-to", client + ":in_1",
                             "--midi-from", client + ":midi_out", "--interrupt",
                             std::to_string(beat), "--tail", "5"},
                            dir + "/probe.txt", dir + "/probe.err");
  const int probe_status = waitFor(probe, kSeconds + 20);
  ::kill(beat, SIGINT);  // in case the probe failed before it could
  const int beat_status = waitFor(beat, 10);
  ASSERT_EQ(probe_status, 0) << slurp(dir + "/probe.err");
  EXPECT_EQ(beat_status, 0) << slurp(dir + "/beat.err");

  int64_t start = -1;
  std::vector<int64_t> notes;
  std::vector<std::pair<int64_t, int>> realtime;  // frame, status byte
  std::istringstream probe_out(slurp(dir + "/probe.txt"));
  for (std::string line; std::getline(probe_out, line);) {
    std::istringstream in(line);
    std::string kind;
    int64_t frame;
    in >> kind >> frame;
    if (kind == "start") start = frame;
    if (kind != "midi") continue;
    std::vector<int> bytes;
    for (std::string hex; in >> hex;) bytes.push_back(std::stoi(hex, nullptr, 16));
    if (bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] > 0) notes.push_back(frame);
    if (bytes.size() == 1) realtime.push_back({frame, bytes[0]});
  }
  ASSERT_GE(start, 0);

  // Known beats after 4 s (the tracker's lock-in) and before the end.
  std::vector<int64_t> known;
  std::ifstream beats_file(std::string(EXAMPLES) + "/groove.beats");
  for (double t; beats_file >> t;) {
    std::string rest;
    std::getline(beats_file, rest);
    if (t >= 4.0 && t < kSeconds - 0.5) known.push_back(start + std::llround(t * kRate));
  }
  ASSERT_GE(known.size(), 10u);
  const int64_t tolerance = std::llround(0.035 * kRate);
  int hit = 0;
  for (int64_t k : known) hit += nearestDistance(notes, k) <= tolerance;
  // The dummy server is not real-time: on a busy machine a period now and
  // then comes too late for a beat's note, which then goes out late.
  EXPECT_GE(hit, int(0.8 * double(known.size()))) << "known beats with a note within 35 ms";
  int placed = 0, counted = 0;
  for (int64_t n : notes)
    if (n >= known.front() - tolerance && n <= known.back() + tolerance) {
      ++counted;
      placed += nearestDistance(known, n) <= tolerance;
    }
  EXPECT_GE(placed, int(0.8 * double(counted))) << "notes on a known beat";

  // The clock: Start, then ticks, Stop last, 24 ticks a beat at 120 BPM.
  ASSERT_FALSE(realtime.empty());
  EXPECT_EQ(std::count_if(realtime.begin(), realtime.end(), [](auto& e) { return e.second == 0xFA; }), 1);
  EXPECT_EQ(realtime.back().second, 0xFC) << "Stop at the end";
  std::vector<int64_t> ticks, first_ticks;
  for (auto& e : realtime) {
    if (e.second == 0xF8 && e.first >= known.front()) ticks.push_back(e.first);
    if (e.second == 0xF8 && first_ticks.size() < 25) first_ticks.push_back(e.first);
  }
  // Started once the tempo held, so its first beat is already the music's.
  ASSERT_EQ(first_ticks.size(), 25u);
  EXPECT_NEAR(60.0 * kRate / double(first_ticks.back() - first_ticks.front()), 120.0, 2.4);
  ASSERT_GE(ticks.size(), 48u);
  const double per_beat = 24.0 * double(ticks.back() - ticks.front()) / double(ticks.size() - 1);
  EXPECT_NEAR(60.0 * kRate / per_beat, 120.0, 2.0);

  // The lines: every beat announced, the summary closing the block.
  const std::string csv = slurp(dir + "/beats.csv");
  int lines = 0;
  std::istringstream csv_in(csv);
  for (std::string line; std::getline(csv_in, line);) lines += !line.empty() && std::isdigit(line[0]);
  EXPECT_GE(lines, int(notes.size())) << csv;
  EXPECT_LE(lines, int(notes.size()) + 2) << csv;
  EXPECT_NE(csv.find("# beats reported: " + std::to_string(lines)), std::string::npos) << csv;
  EXPECT_EQ(csv.find("# interrupted"), std::string::npos) << "a signal is live mode's normal end";
  // Every reported beat also went out over OSC (UDP on the loopback).
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  lo_server_thread_stop(osc);
  lo_server_thread_free(osc);
  EXPECT_EQ(int(osc_beats.times.size()), lines);
  // Time, tempo, confidence, reliable and the place in the bar.
  for (const std::string& types : osc_beats.types) EXPECT_EQ(types, "dffii");
  std::system(("rm -rf " + dir).c_str());
}

// Without a server to talk to, one line says so and the status is 1.
TEST(LiveMode, NoServerIsOneLineAndStatusOne) {
  char dir_template[] = "/tmp/tesk-live-e2e-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  ::setenv("JACK_DEFAULT_SERVER", "tesk-live-no-such-server", 1);
  const pid_t beat = spawn({TESK_BEAT, "--jack", "--plugin", TESK_PLUGIN}, dir + "/out",
                           dir + "/err");
  const int status = waitFor(beat, 20);
  EXPECT_EQ(status, 1);
  EXPECT_NE(slurp(dir + "/err").find("no JACK server is running"), std::string::npos)
      << slurp(dir + "/err");
  std::system(("rm -rf " + dir).c_str());
}

// --reference names the port whose signal is cancelled: the client gets a
// "reference" input port connected to it, beside its audio input.
TEST(LiveMode, ReferencePortIsConnectedToTheGivenSource) {
  char dir_template[] = "/tmp/tesk-live-e2e-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string client = "live-ref-" + std::to_string(::getpid());
  const pid_t beat = spawn({TESK_BEAT, "--jack", "--jack-name", client, "--verbose", "--connect",
                            "system:capture_1", "--reference", "system:capture_2", "--plugin",
                            TESK_PLUGIN},
                           dir + "/out", dir + "/err");
  ASSERT_TRUE(portAppears(client + ":reference", 10)) << slurp(dir + "/err");
  auto connections = [](const std::string& port) {
    std::vector<std::string> names;
    jack_status_t status{};
    jack_client_t* c = jack_client_open("port-look", JackNoStartServer, &status);
    if (!c) return names;
    // Connections are made right after the ports appear: bounded wait.
    for (int tries = 0; tries < 100 && names.empty(); ++tries) {
      if (const char** found = jack_port_get_all_connections(c, jack_port_by_name(c, port.c_str()))) {
        for (const char** p = found; *p; ++p) names.push_back(*p);
        jack_free(found);
      }
      if (names.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    jack_client_close(c);
    return names;
  };
  EXPECT_EQ(connections(client + ":reference"), std::vector<std::string>{"system:capture_2"});
  EXPECT_EQ(connections(client + ":in_1"), std::vector<std::string>{"system:capture_1"});
  ::kill(beat, SIGINT);
  EXPECT_EQ(waitFor(beat, 10), 0) << slurp(dir + "/err");
  // Messages name the client as the summary does, after the tool's name.
  EXPECT_NE(slurp(dir + "/err").find("tesk-beat: jack:" + client + ": tracker bar-pointer"),
            std::string::npos)
      << slurp(dir + "/err");
  std::system(("rm -rf " + dir).c_str());
}
