#include "work_dir.h"

#include <ftw.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) throw std::runtime_error(what + " " + path + ": not a directory");
  } else if (::mkdir(path.c_str(), 0777) != 0) {
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

}  // namespace tesk_beat
