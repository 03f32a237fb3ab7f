#include "sample_blocks.h"

namespace tesk_live {

bool BlockReader::next(std::vector<float>& samples, BlockHeader& header, int64_t& gap,
                       int64_t& dropped) {
  if (!ring_.peek(&header, sizeof header)) return false;
  const size_t bytes = size_t(header.frames) * header.width * sizeof(float);
  if (ring_.readable() < sizeof header + bytes) return false;
  ring_.read(&header, sizeof header);
  samples.resize(size_t(header.frames) * header.width);
  ring_.read(samples.data(), bytes);
  if (start_frame_ < 0) {
    start_frame_ = header.first_frame;
    expected_ = header.first_frame;
  }
  gap = header.first_frame > expected_ ? header.first_frame - expected_ : 0;
  expected_ = header.first_frame + header.frames;
  dropped = header.dropped - dropped_;
  dropped_ = header.dropped;
  return true;
}

}  // namespace tesk_live
