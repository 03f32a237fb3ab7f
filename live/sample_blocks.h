// The samples of each JACK period as one record in the ring: a header (the
// period's first frame on the JACK timeline, its length) and the frames,
// interleaved: the input channels, then the reference channel if any.
#pragma once

#include <cstdint>
#include <vector>

#include "spsc_ring.h"

namespace tesk_live {

struct BlockHeader {
  int64_t first_frame = 0;  // JACK frame time, unwrapped to 64 bits
  uint32_t frames = 0;
  uint32_t width = 0;       // samples per frame
  int64_t dropped = 0;      // frames the callback dropped before this block, in all
};

// The worker's side: whole blocks out of the ring, and the frames lost
// between them when the callback found the ring full.
class BlockReader {
 public:
  explicit BlockReader(SpscRing& ring) : ring_(ring) {}

  // The next whole block into `samples` (resized). `gap`: the frames of
  // the JACK timeline between the last block and this one, those the
  // callback dropped and those the server skipped (after an overrun of its
  // own); `dropped`: the callback's share. False when no block is waiting.
  bool next(std::vector<float>& samples, BlockHeader& header, int64_t& gap, int64_t& dropped);

  // Frame time of the first sample read (the stream's time 0); -1 before.
  int64_t startFrame() const { return start_frame_; }

 private:
  SpscRing& ring_;
  int64_t start_frame_ = -1;
  int64_t expected_ = 0;
  int64_t dropped_ = 0;
};

}  // namespace tesk_live
