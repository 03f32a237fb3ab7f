// tesk-beat --jack: live mode, a JACK client tracked until SIGINT or
// SIGTERM, its beats written as for an input and played as MIDI.
#pragma once

#include "options.h"

namespace tesk_beat {

// Returns an ExitStatus: 0 when stopped by a signal, 3 when the server shut
// down or changed its rate, 1 when the client or tracker could not run.
int runLive(const Options& o, int data_fd);

}  // namespace tesk_beat
