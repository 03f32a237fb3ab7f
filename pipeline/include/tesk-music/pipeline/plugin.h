// Loads the BeatTracker plug-in the way a host does: dlopen with RTLD_NOW |
// RTLD_GLOBAL, so its static initialisers register the node type and its
// module version with libtesk-base. The library stays loaded until exit.
#pragma once

#include <string>
#include <vector>

#include "tesk-music/pipeline/errors.h"

namespace tesk_pipeline {

// Where the plug-in is looked for when no path is given: next to the
// program in the build tree (<build>/bin -> <build>/lib) and in the install
// tree (<prefix>/bin -> <prefix>/<libdir>), then next to this library.
std::vector<std::string> defaultPluginPaths();

// Loads `path`, or the first default that exists when `path` is empty.
// Throws PluginError naming the path and the loader's message.
void loadPlugin(const std::string& path);

// "MODULE revision REVISION version VERSION" lines of the loaded modules.
std::vector<std::string> moduleVersions();

}  // namespace tesk_pipeline
