// Runs every input in its own worker process (up to --jobs at a time), each
// inside a private working directory, and gathers their results in input
// order. The supervising process owns the directories and removes them on
// every way out, including SIGINT, SIGTERM and SIGHUP, after the workers
// have ended their results; a worker whose supervisor was killed outright
// stops and removes them itself.
#pragma once

#include "options.h"
#include "reference_input.h"

namespace tesk_beat {

// `data_fd`: where the data goes (the original standard output);
// `reference`: what --reference read, or null. Returns the exit status of
// the whole run.
int runInputs(const Options& o, const ReferenceAudio* reference, int data_fd);

}  // namespace tesk_beat
