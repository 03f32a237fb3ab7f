#include "jobs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "exit_status.h"
#include "interruption.h"
#include "messages.h"
#include "progress.h"
#include "track_input.h"
#include "work_dir.h"
#include "writers.h"

namespace tesk_beat {

namespace {

volatile sig_atomic_t g_signal = 0;
// Running workers, for the handler: it stops them itself, so a signal that
// lands just before waitpid() cannot leave the supervisor waiting on a
// worker that is blocked on its input.
constexpr int kMaxWorkers = 256;
volatile pid_t g_workers[kMaxWorkers];

void onSignal(int sig) {
  g_signal = sig;
  for (int i = 0; i < kMaxWorkers; ++i)
    if (g_workers[i] > 0) ::kill(g_workers[i], SIGTERM);
}

void registerWorker(pid_t pid, pid_t replaced) {
  for (int i = 0; i < kMaxWorkers; ++i)
    if (g_workers[i] == replaced) {
      g_workers[i] = pid;
      return;
    }
}

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void catchSignals() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: waitpid must return to look at the flag
  for (int s : kSignals) sigaction(s, &sa, nullptr);
}

// The signal mask before the supervisor blocks the signals around fork().
sigset_t g_unblocked;

// A worker's exit when standard output failed (said already): the run
// stops there, with status 4, rather than fail the same way per input.
constexpr int kWorkerOutputFailed = 250;

struct Plan {
  InputJob job;
  std::string work_dir;     // private: where the node leaves its files
  std::string log_dir;      // --log-dir (or its subdirectory for this input), or empty
  std::string result_path;  // --output-dir file, or spool, or empty (direct)
  bool spooled = false;
  bool started = false;
  bool finished = false;
  bool killed = false;  // stopped by a signal before it could end its results
  int status = kExitOk;
};

// Keeps the node's beat log, and its diagnostic files when they were asked
// for: without --diagnostics the node still creates them, empty.
int keepLogs(const Plan& p, const Options& o) {
  if (p.log_dir.empty()) return kExitOk;
  for (const std::string& name : filesIn(".")) {
    const bool beat_log = name == "bt_pellanbt.dat";
    const bool diagnostic = name.rfind("bt_", 0) == 0 && name.size() > 7 &&
                            name.compare(name.size() - 4, 4, ".dat") == 0;
    if (!beat_log && !(o.diagnostics && diagnostic)) continue;
    try {
      copyFileChecked(name, p.log_dir + "/" + name);
    } catch (const std::runtime_error& e) {
      complain(e.what());
      return kExitSetup;
    }
  }
  return kExitOk;
}

bool writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= size_t(w);
  }
  return true;
}

// Copies a spooled result to `fd`; false (errno set) when a write failed.
bool copyFile(const std::string& path, int fd) {
  int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return true;  // the worker wrote nothing
  char buf[65536];
  ssize_t n;
  bool written = true;
  while (written && (n = ::read(in, buf, sizeof buf)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    written = writeAll(fd, buf, size_t(n));
  }
  const int why = errno;
  ::close(in);
  errno = why;
  return written;
}

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

// The JSON object of an input that an interruption kept from starting.
bool writeInterruptedBlock(const Plan& p, const Options& o, int fd) {
  const int copy = ::dup(fd);
  std::FILE* out = copy >= 0 ? ::fdopen(copy, "w") : nullptr;
  if (!out) return false;
  auto writer = makeWriter(o.format, out, false);
  StreamInfo info;
  info.input = p.job.path == "-" ? "-" : p.job.label;
  Summary summary;
  summary.interrupted = true;
  writer->begin(info);
  writer->end(summary);
  const int failure = writer->error();
  const bool closed = std::fclose(out) == 0;
  if (failure) errno = failure;
  return !failure && closed;
}

// Runs in the forked worker with SIGINT, SIGTERM and SIGHUP blocked, until
// its own handlers are in place.
[[noreturn]] void runWorker(const Plan& p, const Options& o, const ReferenceAudio* reference,
                            int data_fd, bool labelled, bool block, pid_t supervisor,
                            const std::string& top) {
  // Only a pipe or socket can leave a read waiting (a terminal is never
  // made non-blocking: it is the user's shell's too).
  struct stat in {};
  catchInterruptions(p.job.path == "-" && ::fstat(STDIN_FILENO, &in) == 0 &&
                     (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode)));
  // Stop with the supervisor, also when it is killed outright: it cannot
  // stop the worker nor remove the private directory then.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != supervisor) ::kill(::getpid(), SIGTERM);
  ::sigprocmask(SIG_SETMASK, &g_unblocked, nullptr);
  if (::chdir(p.work_dir.c_str()) != 0) {
    complain(p.work_dir + ": " + std::strerror(errno));
    std::exit(kExitSetup);
  }
  std::FILE* out = nullptr;
  if (p.result_path.empty()) {
    int fd = ::dup(data_fd);
    out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
  } else {
    out = std::fopen(p.result_path.c_str(), "w");
  }
  if (!out) {
    complain((p.result_path.empty() ? std::string("standard output") : p.result_path) + ": " +
             std::strerror(errno));
    std::exit(kExitSetup);
  }
  int status = trackInput(p.job, o, reference, out, labelled, block);
  // A failed write was said already; the close can still fail on its own.
  const bool failed = std::ferror(out) != 0;
  const bool close_failed = std::fclose(out) != 0;
  if (close_failed && !failed) complain(p.job.output_name + ": " + std::strerror(errno));
  if (failed || close_failed) {
    status = worseStatus(status, kExitSetup);
    // A cut result file would pass for a whole one.
    if (!p.result_path.empty() && !p.spooled) ::unlink(p.result_path.c_str());
    if (p.result_path.empty() && status == kExitSetup) status = kWorkerOutputFailed;
  }
  status = worseStatus(status, keepLogs(p, o));
  restoreStandardInput();
  removeTree(p.work_dir);
  if (::getppid() != supervisor) {
    // Orphaned: nobody else will clean up. The last worker removes the
    // private directory.
    if (p.spooled) ::unlink(p.result_path.c_str());
    ::rmdir(top.c_str());
  }
  std::exit(status);
}

}  // namespace

int runInputs(const Options& o, const ReferenceAudio* reference, int data_fd) {
  const size_t n = o.inputs.size();
  const bool several = n > 1;
  const bool to_files = !o.output_dir.empty();
  const bool spool = several && o.jobs > 1 && !to_files;
  const bool labelled = several && !to_files;
  const bool json_array = several && !to_files && o.format == OutputFormat::kJson;

  // The click track is written whole and renamed into place: never over
  // an input, whatever path or link names it.
  for (const std::string& in : o.inputs)
    if (!o.clicks_path.empty() && sameFile(o.clicks_path, in)) {
      complain("--clicks " + o.clicks_path + " is the input " +
               (in == "-" ? std::string("on standard input") : in) +
               "; an input is never overwritten");
      return kExitUsage;
    }

  std::string top;
  std::vector<Plan> plans(n);
  try {
    top = makePrivateDirectory();
    std::vector<bool> shared;
    const std::vector<std::string> names = resultNames(o.inputs, &shared);
    const std::string out_dir = to_files ? absolutePath(o.output_dir) : "";
    const std::string log_dir = o.log_dir.empty() ? "" : absolutePath(o.log_dir);
    if (to_files) ensureDirectory(out_dir, "--output-dir");
    if (!log_dir.empty()) ensureDirectory(log_dir, "--log-dir");
    for (size_t i = 0; i < n; ++i) {
      Plan& p = plans[i];
      p.job.label = o.inputs[i] == "-" ? "standard input" : o.inputs[i];
      p.job.path = absolutePath(o.inputs[i]);
      if (!o.clicks_path.empty()) {
        p.job.clicks_path = absolutePath(o.clicks_path);
        p.job.clicks_name = o.clicks_path;
        p.job.clicks_temp = makeSiblingTemp(p.job.clicks_path,
                                            o.clicks_path + ": cannot write clicks");
      }
      p.work_dir = top + "/job-" + std::to_string(i);
      ensureDirectory(p.work_dir, "working directory");
      if (!log_dir.empty()) {
        p.log_dir = several ? log_dir + "/" + names[i] : log_dir;
        ensureDirectory(p.log_dir, "--log-dir");
      }
      p.job.output_name = "standard output";
      if (to_files) {
        const std::string name = names[i] + "." + resultExtension(o.format);
        p.result_path = out_dir + "/" + name;
        if (name.find('/') != std::string::npos)
          ensureDirectory(p.result_path.substr(0, p.result_path.rfind('/')), "--output-dir");
        std::string shown = o.output_dir;
        while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
        p.job.output_name = shown + "/" + name;
        if (shared[i])
          complain(p.job.label + ": results in " + p.job.output_name +
                   " (several inputs are named " + stemOf(o.inputs[i]) + ")");
      } else if (spool) {
        p.result_path = top + "/result-" + std::to_string(i);
        p.spooled = true;
        p.job.output_name = p.result_path;  // held there until its turn on standard output
      }
    }
  } catch (const std::runtime_error& e) {
    complain(e.what());
    for (const Plan& p : plans)
      if (!p.job.clicks_temp.empty()) std::remove(p.job.clicks_temp.c_str());
    removeTree(top);
    return kExitSetup;
  }

  // With -o standard output carries no beat lines: the bar may share its terminal.
  ProgressBar bar(n, o.progress && !o.verbose, o.output_dir.empty() ? data_fd : -1);
  for (size_t i = 0; i < n; ++i) plans[i].job.progress = bar.slot(i);
  std::string bar_label = n == 1 ? plans[0].job.label : "";
  bar_label = bar_label.substr(bar_label.rfind('/') + 1);
  if (bar_label.size() > 40) bar_label = "..." + bar_label.substr(bar_label.size() - 37);

  catchSignals();
  std::fflush(nullptr);
  std::map<pid_t, size_t> running;
  size_t next_start = 0, next_print = 0;
  using Clock = std::chrono::steady_clock;
  Clock::time_point stop_deadline{};
  bool ended = false;  // the output ends with an interrupted input's block
  const pid_t supervisor = ::getpid();
  int status = kExitOk;
  // What the supervisor itself writes to standard output; the first failure
  // is said once and makes the run's status 4.
  bool data_failed = false;
  auto checked = [&](bool written) {
    if (written || data_failed) return;
    data_failed = true;
    complain(std::string("standard output: ") + std::strerror(errno));
    status = worseStatus(status, kExitSetup);
  };
  auto separator = [&](size_t i) {
    if (json_array) checked(writeAll(data_fd, i == 0 ? "[\n" : ",\n", 2));
  };

  while ((next_print < n && !(data_failed && next_print >= next_start)) || !running.empty()) {
    while (!g_signal && !data_failed && running.size() < size_t(o.jobs) && next_start < n) {
      if (!plans[next_start].spooled && !to_files) separator(next_start);
      if (data_failed) break;
      size_t i = next_start++;
      std::fflush(nullptr);
      sigset_t blocked;
      sigemptyset(&blocked);
      for (int sig : kSignals) sigaddset(&blocked, sig);
      ::sigprocmask(SIG_BLOCK, &blocked, &g_unblocked);
      pid_t pid = ::fork();
      if (pid == 0) runWorker(plans[i], o, reference, data_fd, labelled, several, supervisor, top);
      const int fork_error = errno;
      if (pid > 0) {
        running[pid] = i;
        registerWorker(pid, 0);
        plans[i].started = true;
      }
      ::sigprocmask(SIG_SETMASK, &g_unblocked, nullptr);
      if (pid < 0) {
        complain(std::string("cannot start a worker: ") + std::strerror(fork_error));
        plans[i].finished = true;
        plans[i].status = kExitSetup;
        continue;
      }
      if (g_signal) ::kill(pid, SIGTERM);
    }
    if (running.empty()) {
      if (g_signal) break;
    } else {
      int st = 0;
      pid_t pid = ::waitpid(-1, &st, g_signal || bar.possible() ? WNOHANG : 0);
      if (pid == 0 && !g_signal) {
        bar.draw(bar_label);
        ::usleep(100000);
        continue;
      }
      if (pid == 0) {
        // Interrupted: the workers end their results and stop; one that
        // has not within a few seconds (blocked writing, say) is killed.
        if (stop_deadline.time_since_epoch().count() == 0)
          stop_deadline = Clock::now() + std::chrono::seconds(5);
        if (Clock::now() > stop_deadline)
          for (const auto& r : running) ::kill(r.first, SIGKILL);
        ::usleep(20000);
        continue;
      }
      if (pid < 0) {
        if (errno == EINTR) continue;
        break;
      }
      auto it = running.find(pid);
      if (it == running.end()) continue;
      registerWorker(0, pid);
      Plan& p = plans[it->second];
      running.erase(it);
      p.finished = true;
      if (p.job.progress) p.job.progress->finished = true;
      if (WIFEXITED(st) && WEXITSTATUS(st) == kWorkerOutputFailed) {
        p.status = kExitSetup;
        data_failed = true;
      } else if (WIFEXITED(st)) {
        p.status = WEXITSTATUS(st);
        // A worker interrupted on its own stops the run as well: its block
        // says so and must stay the last.
        const int sig = p.status - 128;
        if (!g_signal && (sig == SIGINT || sig == SIGTERM || sig == SIGHUP)) onSignal(sig);
      } else if (WIFSIGNALED(st) && g_signal) {
        p.status = 128 + g_signal;
        p.killed = true;
      } else if (WIFSIGNALED(st) && WTERMSIG(st) == SIGPIPE) {
        p.status = 128 + SIGPIPE;  // the reader went away: quiet, as any filter
      } else {
        p.status = kExitInputFailed;
        complain(p.job.label + ": the tracker stopped abnormally (signal " +
                 std::to_string(WIFSIGNALED(st) ? WTERMSIG(st) : 0) + ")");
        if (!p.job.clicks_temp.empty()) std::remove(p.job.clicks_temp.c_str());
      }
    }
    // In input order; after an interrupted input nothing more is shown.
    while (next_print < n && plans[next_print].finished && !ended) {
      Plan& p = plans[next_print];
      // A killed worker's JSON stops inside its object: left out.
      if (p.spooled && !(p.killed && o.format == OutputFormat::kJson)) {
        separator(next_print);
        checked(copyFile(p.result_path, data_fd));
      }
      status = worseStatus(status, p.status);
      ended = p.status >= 128 && !p.killed;  // its block says it was interrupted
      ++next_print;
    }
    if (g_signal && running.empty()) break;
  }

  bar.clear();
  if (g_signal) {
    complain(std::string("interrupted by ") + signalName(g_signal) + "; the results are incomplete");
    // No block says so yet: the input next in line never started, or its
    // worker had to be killed.
    if (!ended && !to_files && next_print < n) {
      if (o.format != OutputFormat::kJson) {
        checked(writeAll(data_fd, "# interrupted\n", 14));
      } else if (!plans[next_print].started) {
        separator(next_print);
        checked(writeInterruptedBlock(plans[next_print], o, data_fd));
      }
    }
  }
  if (json_array && n > 0) checked(writeAll(data_fd, "]\n", 2));
  removeTree(top);
  if (g_signal) {
    for (const Plan& p : plans)
      if (!p.job.clicks_temp.empty()) std::remove(p.job.clicks_temp.c_str());
    return 128 + g_signal;
  }
  return status;
}

}  // namespace tesk_beat
