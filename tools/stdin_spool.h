// Standard input in a format that libsndfile can only decode from a file,
// because it seeks in it (FLAC, CAF, VOC, RF64): recognised on a pipe by
// its first bytes, without consuming them, and copied whole into a private
// temporary file to be read from there. Its beats then come when the
// stream has ended.
#pragma once

#include <string>

namespace tesk_beat {

// An open descriptor of standard input's copy (already unlinked from the
// current directory), or -1 when standard input is read as it is: not a
// pipe, or none of those formats. `format` names the format spooled.
// Throws InputError naming `name` when the copy cannot be made.
int spoolStandardInputIfNeeded(const std::string& name, std::string* format);

}  // namespace tesk_beat
