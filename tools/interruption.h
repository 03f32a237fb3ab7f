// A worker interrupted by SIGINT, SIGTERM or SIGHUP (the supervisor sends
// SIGTERM, also when it dies) stops at the next frame and ends its results
// so that a reader can tell them from complete ones. A read blocked on a
// stream does not wait for more data: the handler makes the stream
// non-blocking, so the read ends as if at the end of the input.
#pragma once

namespace tesk_beat {

// Installs the handlers (reads and writes are not restarted after them).
// `stream_input`: standard input is this worker's input and may block.
void catchInterruptions(bool stream_input);

// The signal that interrupted the worker, 0 if none.
int interruption();

// Puts standard input back as it was (blocking); the descriptor is shared
// with the supervisor.
void restoreStandardInput();

}  // namespace tesk_beat
