// Directories and paths of a run: the private working directory in which
// the node leaves its files (removed afterwards), and absolute paths, since
// each input is tracked from inside such a directory.
#pragma once

#include <string>

namespace tesk_beat {

// `path` made absolute against the current directory ("-" stays "-").
std::string absolutePath(const std::string& path);

// Creates a fresh private directory under $TMPDIR (or /tmp); throws
// std::runtime_error.
std::string makePrivateDirectory();

// Creates `path` (one level) unless it is already a directory; throws
// std::runtime_error naming `what`.
void ensureDirectory(const std::string& path, const std::string& what);

// Removes `path` and everything under it; quiet if it does not exist.
void removeTree(const std::string& path);

// The file name of `path` without directory and extension ("stdin" for "-").
std::string stemOf(const std::string& path);

}  // namespace tesk_beat
