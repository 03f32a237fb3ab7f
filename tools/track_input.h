// Tracks the beats of one input and writes them as they are announced.
#pragma once

#include <cstdio>
#include <string>

#include "options.h"
#include "progress.h"
#include "reference_input.h"

namespace tesk_beat {

struct InputJob {
  std::string path;         // absolute path, or "-" for standard input
  std::string label;        // the input in messages: as the user named it, or "standard input"
  std::string output_name;  // where the results go, for messages: "standard output" or a path
  std::string clicks_path;  // final click track (absolute), or empty
  std::string clicks_name;  // the click track as the user named it, for messages
  std::string clicks_temp;  // beside it: written there first, renamed when complete
  ProgressSlot* progress = nullptr;  // where to record how far the input has come, or null
};

// Runs in the process's current directory, where the node leaves its files.
// `reference`: what --reference read, cancelled from the input, or null.
// `block`: write a block for this input even when it fails before the first
// beat (several inputs share one stream). Returns an ExitStatus; a write to
// `out` that failed is said on standard error, naming job.output_name.
int trackInput(const InputJob& job, const Options& o, const ReferenceAudio* reference,
               std::FILE* out, bool labelled, bool block);

}  // namespace tesk_beat
