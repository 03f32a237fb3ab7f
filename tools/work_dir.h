// Directories and paths of a run: the private working directory in which
// the node leaves its files (removed afterwards), and absolute paths, since
// each input is tracked from inside such a directory.
#pragma once

#include <string>
#include <vector>

namespace tesk_beat {

// `path` made absolute against the current directory ("-" stays "-").
std::string absolutePath(const std::string& path);

// Creates a fresh private directory under $TMPDIR (or /tmp); throws
// std::runtime_error.
std::string makePrivateDirectory();

// Creates `path` and its missing parents unless it is already a directory;
// throws std::runtime_error naming `what`.
void ensureDirectory(const std::string& path, const std::string& what);

// Removes `path` and everything under it; quiet if it does not exist.
void removeTree(const std::string& path);

// `a` and `b` are the same existing file, by whatever path or link ("-" is
// standard input).
bool sameFile(const std::string& a, const std::string& b);

// Creates a fresh empty file beside `path` (same directory, hidden name) in
// which `path` can be written whole and then renamed into place. Throws
// std::runtime_error naming `name` and the system's reason.
std::string makeSiblingTemp(const std::string& path, const std::string& name);

// Names in `dir`, sorted; none when it cannot be read.
std::vector<std::string> filesIn(const std::string& dir);

// Copies the file `from` to `to`, checking every write and the close; a
// failed copy is removed. Throws std::runtime_error naming the path and the
// system's reason.
void copyFileChecked(const std::string& from, const std::string& to);

// The file name of `path` without directory and extension ("stdin" for "-").
std::string stemOf(const std::string& path);

// `path` as a relative name that says which file it is: as given when it
// lies under the current directory ("sub/a.wav"), else its absolute path
// without the leading slash ("music/a.wav" for "/music/a.wav").
std::string mirroredPath(const std::string& path);

// Names of the inputs' result files and log directories: each input's stem,
// or, for inputs whose stems are the same, their mirrored paths, extension
// kept ("a.wav", "sub/a.wav", "a.flac"); `shared` tells which those are.
std::vector<std::string> resultNames(const std::vector<std::string>& inputs,
                                     std::vector<bool>* shared = nullptr);

}  // namespace tesk_beat
