// tesk-beat: tracks the beats of audio files and live streams with the
// BeatTracker node of the tesk-music plug-in.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "exit_status.h"
#include "jobs.h"
#include "live_run.h"
#include "options.h"
#include "reference_input.h"
#include "tesk-music/pipeline/plugin.h"

#ifndef TESK_BEAT_VERSION
#define TESK_BEAT_VERSION "unknown"
#endif

using namespace tesk_beat;
using tesk_pipeline::loadPlugin;
using tesk_pipeline::moduleVersions;
using tesk_pipeline::PluginError;

namespace {

// Standard output carries only data. The library writes its console lines
// to standard output (std::cout), so file descriptor 1 is pointed at
// standard error (--verbose) or /dev/null, and the data goes through a
// duplicate of the original descriptor.
int divertStandardOutput(bool verbose) {
  std::fflush(stdout);
  int data_fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  int sink = verbose ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (sink >= 0) {
    ::dup2(sink, STDOUT_FILENO);
    ::close(sink);
  }
  return data_fd;  // -1 when standard output was closed
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  try {
    o = parseOptions(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tesk-beat: %s\n", e.what());
    return kExitUsage;
  }
  if (o.show_help) {
    std::fputs(helpText("tesk-beat").c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitSetup;
  }

  const int data_fd = divertStandardOutput(o.verbose);
  if (data_fd < 0 && (o.output_dir.empty() || o.show_version)) {
    std::fprintf(stderr, "tesk-beat: standard output is closed; nowhere to write the beats\n");
    return kExitSetup;
  }
  try {
    loadPlugin(o.plugin_path);
  } catch (const PluginError& e) {
    std::fprintf(stderr, "tesk-beat: %s\n", e.what());
    return kExitSetup;
  }
  if (o.show_version) {
    std::string text = std::string("tesk-beat ") + TESK_BEAT_VERSION + "\n";
    for (const auto& line : moduleVersions()) text += "module " + line + "\n";
    return ::write(data_fd, text.data(), text.size()) == ssize_t(text.size()) ? kExitOk
                                                                              : kExitSetup;
  }
  // Live, the reference is what a JACK port hears.
  if (o.jack) return runLive(o, data_fd);
  // Read once: every worker inherits it, and a file it cannot use is
  // refused before any input is tracked.
  ReferenceAudio reference;
  if (!o.reference_path.empty()) {
    try {
      reference = readReference(o.reference_path);
    } catch (const InputError& e) {
      std::fprintf(stderr, "tesk-beat: %s\n", e.what());
      return kExitInputFailed;
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "tesk-beat: --reference %s: out of memory\n", o.reference_path.c_str());
      return kExitInputFailed;
    }
  }
  return runInputs(o, o.reference_path.empty() ? nullptr : &reference, data_fd);
}
