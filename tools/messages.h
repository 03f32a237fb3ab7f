// Messages on standard error: one line each, "tesk-beat: ...".
#pragma once

#include <string>

namespace tesk_beat {

// Writes "tesk-beat: MESSAGE" as one line in one write. On a terminal the
// line is cleared first, so that the progress bar never mixes into it.
void complain(const std::string& message);

}  // namespace tesk_beat
