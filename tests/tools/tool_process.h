// Runs the built tesk-beat as a child process for end-to-end tests: given
// arguments, working directory and environment; standard input from a file,
// a pipe the test writes to, or nothing; output captured.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tesk_beat_test {

// The program and plug-in under test (see end_to_end_main.cc).
std::string toolPath();

// In a forked child whose standard descriptors are set: closes the others,
// enters `cwd` (unless empty), adds `env` and runs the tool with `args`.
[[noreturn]] void execTool(const std::string& cwd, const std::vector<std::string>& env,
                           const std::vector<std::string>& args);
std::string pluginPath();

struct ToolResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  std::vector<std::string> lines() const;  // of `out`
};

class ToolProcess {
 public:
  enum class Input { kNone, kFile, kPipe };
  // `output_file`: standard output goes there instead of being captured.
  ToolProcess(const std::vector<std::string>& args, const std::string& cwd,
              const std::vector<std::string>& env = {}, Input input = Input::kNone,
              const std::string& input_file = "", const std::string& output_file = "");
  ~ToolProcess();

  void write(const void* data, size_t size);  // to the stdin pipe
  void closeInput();
  // Waits (at most `limit_seconds`) for a complete line on standard output;
  // false if the output ended or the limit passed first.
  bool readLine(std::string& line, double limit_seconds);
  void signal(int sig);
  // Reads standard output until it ends (every process holding it has
  // closed it); false if that takes longer than `limit_seconds`.
  bool waitForOutputEnd(double limit_seconds);
  ToolResult finish();  // closes input, reads everything, waits
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_fd_ = -1, out_fd_ = -1;
  std::string err_path_;
  std::string pending_;
  std::string all_out_;
};

// Runs to completion.
ToolResult runTool(const std::vector<std::string>& args, const std::string& cwd,
                   const std::vector<std::string>& env = {},
                   ToolProcess::Input input = ToolProcess::Input::kNone,
                   const std::string& input_file = "", const std::string& output_file = "");

// A fresh directory under the system temporary directory, removed by the
// destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> entries() const;  // names, sorted

 private:
  std::string path_;
};

// Names in `path`, sorted.
std::vector<std::string> listDirectory(const std::string& path);

std::vector<double> parseTimes(const std::vector<std::string>& lines);
// `text` is exactly one JSON value (white space around it allowed).
bool isJsonDocument(const std::string& text);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

}  // namespace tesk_beat_test
