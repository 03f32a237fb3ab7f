#include "tesk-music/pipeline/plugin.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host_message.h"
#include "tesk/Exception.h"
#include "tesk/Node.h"
#include "tesk/Object.h"

#ifndef TESK_PIPELINE_INSTALL_LIBDIR
#define TESK_PIPELINE_INSTALL_LIBDIR "lib"
#endif

namespace tesk_pipeline {

namespace {

const char kPluginName[] = "libtesk-music.tlb";

std::string programDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string exe(buf, size_t(n));
  auto slash = exe.rfind('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

// The directory this library was loaded from.
std::string libraryDirectory() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&libraryDirectory), &info) || !info.dli_fname) return ".";
  std::string lib = info.dli_fname;
  auto slash = lib.rfind('/');
  return slash == std::string::npos ? "." : lib.substr(0, slash);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::string> defaultPluginPaths() {
  const std::string up = programDirectory() + "/..";
  std::vector<std::string> paths = {up + "/lib/" + kPluginName};
  const std::string libdir = TESK_PIPELINE_INSTALL_LIBDIR;
  if (libdir != "lib") paths.push_back(up + "/" + libdir + "/" + kPluginName);
  paths.push_back(up + "/" + libdir + "/tesk/" + kPluginName);
  // Programs that are not installed beside it (a Python module, a host).
  paths.push_back(libraryDirectory() + "/" + kPluginName);
  return paths;
}

void loadPlugin(const std::string& path) {
  std::string chosen = path;
  if (chosen.empty()) {
    auto candidates = defaultPluginPaths();
    for (const auto& c : candidates)
      if (exists(c)) {
        chosen = c;
        break;
      }
    if (chosen.empty())
      throw PluginError("plug-in " + std::string(kPluginName) + " not found (looked for " +
                        candidates.front() + "); give its path with --plugin");
  }
  if (!exists(chosen)) throw PluginError("--plugin " + chosen + ": no such file");
  if (!::dlopen(chosen.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
    const char* why = ::dlerror();
    throw PluginError("cannot load plug-in " + chosen + ": " + (why ? why : "unknown error"));
  }
  if (!TESK::Node::getFactoryNamed("BeatTracker"))
    throw PluginError("plug-in " + chosen + " does not provide the node type BeatTracker");
}

std::vector<std::string> moduleVersions() {
  std::vector<std::string> lines;
  for (const auto& m : TESK::Object::getModuleVersions())
    lines.push_back(m.module + " revision " + m.revision + " version " + m.version);
  return lines;
}

std::string takeHostMessage(void* base_exception) {
  auto* e = static_cast<TESK::BaseException*>(base_exception);
  std::string text;
  // The oldest exception of the chain is the one that says what went wrong;
  // later ones only add where it passed.
  for (const TESK::BaseException* p = e; p; p = p->next()) {
    std::string m = p->message();
    if (m.empty() || m == "Exception caught in BufferedNode::getOutput") continue;
    if (!text.empty()) text += "; ";
    text += m;
  }
  delete e;
  return text.empty() ? "unknown failure in the node" : text;
}

}  // namespace tesk_pipeline
