#include "work_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

namespace tesk_beat {

std::string absolutePath(const std::string& path) {
  if (path == "-" || path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

std::string makePrivateDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/tesk-beat.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data()))
    throw std::runtime_error("cannot create a private directory in " +
                             std::string(base && *base ? base : "/tmp") + ": " +
                             std::strerror(errno));
  return buf.data();
}

void ensureDirectory(const std::string& path, const std::string& what) {
  // Missing parents first, as mkdir -p does.
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    struct stat st {};
    if (::stat(parent.c_str(), &st) != 0 && ::mkdir(parent.c_str(), 0777) != 0 && errno != EEXIST)
      throw std::runtime_error(what + " " + parent + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw std::runtime_error(what + " " + path + ": not a directory");
  } else if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
  }
  if (::access(path.c_str(), W_OK | X_OK) != 0)
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

namespace {
int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}
}  // namespace

void removeTree(const std::string& path) {
  if (path.empty()) return;
  ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  auto look = [](const std::string& path, struct stat* st) {
    return path == "-" ? ::fstat(STDIN_FILENO, st) == 0 : ::stat(path.c_str(), st) == 0;
  };
  return look(a, &sa) && look(b, &sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string makeSiblingTemp(const std::string& path, const std::string& name) {
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string templ = dir + (dir.back() == '/' ? "" : "/") + "." + base + ".tesk-beat-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) throw std::runtime_error(name + ": " + std::strerror(errno));
  // mkstemp makes it private; the finished file gets the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  return buf.data();
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void copyFileChecked(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) throw std::runtime_error(from + ": " + std::strerror(errno));
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    int e = errno;
    ::close(in);
    throw std::runtime_error(to + ": " + std::strerror(e));
  }
  int failure = 0;
  char buf[65536];
  while (!failure) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) failure = errno;
      break;
    }
    for (ssize_t done = 0; done < n && !failure;) {
      ssize_t w = ::write(out, buf + done, size_t(n - done));
      if (w < 0 && errno != EINTR) failure = errno;
      if (w > 0) done += w;
    }
  }
  ::close(in);
  if (::close(out) != 0 && !failure) failure = errno;
  if (failure) {
    ::unlink(to.c_str());  // a cut copy would pass for the whole file
    throw std::runtime_error(to + ": " + std::strerror(failure));
  }
}

std::string stemOf(const std::string& path) {
  if (path == "-") return "stdin";
  std::string name = path;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  auto slash = name.rfind('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
  return name.empty() ? "input" : name;
}

std::string mirroredPath(const std::string& path) {
  if (path == "-") return "stdin";
  // The path's components, ".." resolved; `escapes` when it climbs above
  // where it starts.
  auto components = [](const std::string& p, bool* escapes) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < p.size()) {
      size_t slash = std::min(p.find('/', start), p.size());
      std::string part = p.substr(start, slash - start);
      if (part == "..") {
        if (parts.empty()) *escapes = true;
        else parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = slash + 1;
    }
    return parts;
  };
  // A path inside the current directory is kept as given; one outside it
  // (absolute, or climbing with "..") by its whole absolute path.
  bool escapes = path.empty() || path[0] == '/';
  std::vector<std::string> parts = components(path, &escapes);
  if (escapes) parts = components(absolutePath(path), &escapes);
  std::string name;
  for (const auto& part : parts) name += (name.empty() ? "" : "/") + part;
  return name.empty() ? "input" : name;
}

std::vector<std::string> resultNames(const std::vector<std::string>& inputs,
                                     std::vector<bool>* shared) {
  std::map<std::string, int> stems;
  for (const auto& in : inputs) ++stems[stemOf(in)];
  std::vector<std::string> names;
  std::set<std::string> used;
  if (shared) shared->assign(inputs.size(), false);
  for (size_t i = 0; i < inputs.size(); ++i) {
    const bool clash = stems[stemOf(inputs[i])] > 1;
    if (shared) (*shared)[i] = clash;
    const std::string base = clash ? mirroredPath(inputs[i]) : stemOf(inputs[i]);
    std::string name = base;
    for (int n = 2; used.count(name); ++n) name = base + "-" + std::to_string(n);  // the same input twice
    used.insert(name);
    names.push_back(name);
  }
  return names;
}

}  // namespace tesk_beat
