#include "tesk/Buffer.h"

#include "tesk/Exception.h"

#include <algorithm>
#include <string>

namespace TESK {

namespace {

[[noreturn]] void notHeld(int frame, int newest, int capacity, int line) {
  std::string held = newest < 0 ? std::string("none yet")
                                : std::to_string(std::max(0, newest - capacity + 1)) + " to " +
                                      std::to_string(newest);
  throw new GeneralException("Buffer: frame " + std::to_string(frame) +
                                 " is no longer held (frames held: " + held + ")",
                             __FILE__, line);
}

}  // namespace

Buffer::Buffer(int capacity) : slots(static_cast<std::size_t>(std::max(capacity, 1))) {}

bool Buffer::isHeld(int frame) const {
  return frame >= 0 && frame <= newest && frame > newest - getCapacity();
}

ObjectRef& Buffer::operator[](int frame) {
  if (frame < 0) {
    throw new GeneralException("Buffer: negative frame " + std::to_string(frame), __FILE__,
                               __LINE__);
  }
  if (frame > newest) {
    // Clear the slots the ring moves past: they held frames now dropped.
    // Counted down so that a frame near INT_MAX cannot overflow the loop.
    int first = std::max(newest + 1, frame - getCapacity() + 1);
    for (int f = frame; f >= first; --f) slot(f) = nilObject;
    newest = frame;
  } else if (!isHeld(frame)) {
    notHeld(frame, newest, getCapacity(), __LINE__);
  }
  return slot(frame);
}

ObjectRef Buffer::get(int frame) const {
  if (frame < 0) {
    throw new GeneralException("Buffer: negative frame " + std::to_string(frame), __FILE__,
                               __LINE__);
  }
  if (frame > newest) return nilObject;
  if (!isHeld(frame)) notHeld(frame, newest, getCapacity(), __LINE__);
  return slots[static_cast<std::size_t>(frame) % slots.size()];
}

}  // namespace TESK
