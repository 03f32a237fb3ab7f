// Exit statuses of tesk-beat. Documented in --help and the README.
#pragma once

namespace tesk_beat {

enum ExitStatus : int {
  kExitOk = 0,          // every input tracked to its end
  kExitInputFailed = 1, // an input could not be read or tracked (others still ran)
  kExitUsage = 2,       // bad command line: unknown option, malformed number, bad value
  kExitTruncated = 3,   // an input ended early; beats up to its end were reported
  kExitSetup = 4,       // plug-in missing or unusable, an output that cannot be written
  kExitInterrupted = 130,
};

// Several inputs: the most serious status wins.
inline int worseStatus(int a, int b) {
  auto rank = [](int s) {
    switch (s) {
      case kExitOk: return 0;
      case kExitTruncated: return 1;
      case kExitInputFailed: return 2;
      case kExitSetup: return 3;
      default: return 4;
    }
  };
  return rank(b) > rank(a) ? b : a;
}

}  // namespace tesk_beat
