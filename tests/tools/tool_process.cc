#include "tool_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tesk_beat_test {

namespace {

std::string fromEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) throw std::runtime_error(std::string(name) + " is not set (run through ctest, or pass --tool= and --plugin=)");
  return v;
}

}  // namespace

std::string toolPath() { return fromEnv("TESK_BEAT_TOOL"); }
std::string pluginPath() { return fromEnv("TESK_BEAT_PLUGIN"); }

std::vector<std::string> ToolResult::lines() const {
  std::vector<std::string> l;
  std::istringstream s(out);
  std::string line;
  while (std::getline(s, line)) l.push_back(line);
  return l;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args, const std::string& cwd,
                         const std::vector<std::string>& env, Input input,
                         const std::string& input_file, const std::string& output_file) {
  ::signal(SIGPIPE, SIG_IGN);
  char err_template[] = "/tmp/tesk-beat-test-err.XXXXXX";
  int err_fd = ::mkstemp(err_template);
  if (err_fd < 0) throw std::runtime_error("mkstemp failed");
  err_path_ = err_template;
  int out_pipe[2], in_pipe[2] = {-1, -1};
  if (::pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
  if (input == Input::kPipe && ::pipe(in_pipe) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    int in = -1;
    if (input == Input::kPipe) in = in_pipe[0];
    else if (input == Input::kFile) in = ::open(input_file.c_str(), O_RDONLY);
    else in = ::open("/dev/null", O_RDONLY);
    if (in < 0) _exit(126);
    ::dup2(in, 0);
    int out = output_file.empty() ? out_pipe[1]
                                  : ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) _exit(126);
    ::dup2(out, 1);
    ::dup2(err_fd, 2);
    execTool(cwd, env, args);
  }
  ::close(err_fd);
  ::close(out_pipe[1]);
  out_fd_ = out_pipe[0];
  if (input == Input::kPipe) {
    ::close(in_pipe[0]);
    in_fd_ = in_pipe[1];
  }
}

void execTool(const std::string& cwd, const std::vector<std::string>& env,
              const std::vector<std::string>& args) {
  for (int fd = 3; fd < 256; ++fd) ::close(fd);
  if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(126);
  for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> argv;
  std::string tool = toolPath();
  argv.push_back(const_cast<char*>(tool.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  _exit(127);
}

ToolProcess::~ToolProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (in_fd_ >= 0) ::close(in_fd_);
  if (out_fd_ >= 0) ::close(out_fd_);
  if (!err_path_.empty()) ::unlink(err_path_.c_str());
}

void ToolProcess::write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0 && in_fd_ >= 0) {
    ssize_t w = ::write(in_fd_, p, size);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // the tool stopped reading
    }
    p += w;
    size -= size_t(w);
  }
}

void ToolProcess::closeInput() {
  if (in_fd_ >= 0) ::close(in_fd_);
  in_fd_ = -1;
}

bool ToolProcess::readLine(std::string& line, double limit_seconds) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(int64_t(limit_seconds * 1000));
  while (true) {
    auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || out_fd_ < 0) return false;
    pollfd p{out_fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = ::read(out_fd_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, size_t(n));
    all_out_.append(buf, size_t(n));
  }
}

bool ToolProcess::waitForOutputEnd(double limit_seconds) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(int64_t(limit_seconds * 1000));
  while (out_fd_ >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{out_fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = ::read(out_fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    pending_.append(buf, size_t(n));
    all_out_.append(buf, size_t(n));
  }
  return true;
}

void ToolProcess::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

ToolResult ToolProcess::finish() {
  closeInput();
  ToolResult r;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(out_fd_, buf, sizeof buf)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    all_out_.append(buf, size_t(n));
  }
  ::close(out_fd_);
  out_fd_ = -1;
  int st = 0;
  ::waitpid(pid_, &st, 0);
  pid_ = -1;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.out = all_out_;
  r.err = readFile(err_path_);
  return r;
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& cwd,
                   const std::vector<std::string>& env, ToolProcess::Input input,
                   const std::string& input_file, const std::string& output_file) {
  ToolProcess p(args, cwd, env, input, input_file, output_file);
  return p.finish();
}

namespace {
int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}
}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/tesk-beat-test.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() { ::nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::vector<std::string> TempDir::entries() const { return listDirectory(path_); }

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* d = ::opendir(path.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<double> parseTimes(const std::vector<std::string>& lines) {
  std::vector<double> t;
  for (const auto& l : lines) {
    if (l.empty() || l[0] == '#') continue;
    t.push_back(std::strtod(l.c_str(), nullptr));
  }
  return t;
}

namespace {

// A strict recursive-descent reader of JSON, for checking documents only.
struct JsonReader {
  const std::string& s;
  size_t at = 0;
  void space() {
    while (at < s.size() && std::strchr(" \t\r\n", s[at])) ++at;
  }
  bool literal(const char* word) {
    size_t n = std::strlen(word);
    if (s.compare(at, n, word) != 0) return false;
    at += n;
    return true;
  }
  bool string() {
    if (at >= s.size() || s[at] != '"') return false;
    for (++at; at < s.size(); ++at) {
      if (s[at] == '"') return ++at, true;
      if (static_cast<unsigned char>(s[at]) < 0x20) return false;
      if (s[at] == '\\' && ++at >= s.size()) return false;
    }
    return false;
  }
  bool number() {
    const char* begin = s.c_str() + at;
    char* end = nullptr;
    std::strtod(begin, &end);
    if (end == begin || !(std::isdigit(static_cast<unsigned char>(*begin)) || *begin == '-'))
      return false;
    at += size_t(end - begin);
    return true;
  }
  template <typename Item>
  bool sequence(char close, Item item) {
    ++at;
    space();
    if (at < s.size() && s[at] == close) return ++at, true;
    while (true) {
      if (!item()) return false;
      space();
      if (at < s.size() && s[at] == ',') {
        ++at;
        continue;
      }
      return at < s.size() && s[at++] == close;
    }
  }
  bool value() {
    space();
    if (at >= s.size()) return false;
    bool ok;
    switch (s[at]) {
      case '{':
        ok = sequence('}', [&] {
          space();
          if (!string()) return false;
          space();
          return at < s.size() && s[at++] == ':' && value();
        });
        break;
      case '[': ok = sequence(']', [&] { return value(); }); break;
      case '"': ok = string(); break;
      case 't': ok = literal("true"); break;
      case 'f': ok = literal("false"); break;
      case 'n': ok = literal("null"); break;
      default: ok = number();
    }
    space();
    return ok;
  }
};

}  // namespace

bool isJsonDocument(const std::string& text) {
  JsonReader r{text};
  return r.value() && r.at == text.size();
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  f << data;
}

}  // namespace tesk_beat_test
