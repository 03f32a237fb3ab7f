// Loads the BeatTracker plug-in the way a host does: dlopen with RTLD_NOW |
// RTLD_GLOBAL, so its static initialisers register the node type and its
// module version with libtesk-base. The library stays loaded until exit.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tesk_beat {

struct PluginError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where the plug-in is looked for when --plugin is not given: next to the
// program in the build tree (<build>/bin -> <build>/lib) and in the install
// tree (<prefix>/bin -> <prefix>/<libdir>).
std::vector<std::string> defaultPluginPaths();

// Loads `path`, or the first default that exists when `path` is empty.
// Throws PluginError naming the path and the loader's message.
void loadPlugin(const std::string& path);

// "MODULE revision REVISION version VERSION" lines of the loaded modules.
std::vector<std::string> moduleVersions();

// An exception chain of the host as one line, and the chain freed.
std::string takeHostMessage(void* base_exception);

}  // namespace tesk_beat
