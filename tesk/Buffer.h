// The recent frames of one node output, held in a ring.
//
// A buffer of capacity C keeps the objects of the newest frame written and
// the C - 1 frames before it; writing a newer frame drops the oldest ones,
// so memory stays bounded however long the stream runs.
//   - Writing (operator[]) or reading (get) a frame older than those held,
//     or a negative frame, raises a GeneralException.
//   - Reading a held frame that was never written, or a frame newer than
//     the newest written, gives nil: nothing has been produced for it.
#ifndef TESK_BUFFER_H
#define TESK_BUFFER_H

#include "tesk/Object.h"

#include <vector>

namespace TESK {

class Buffer {
public:
  // Capacity below 1 counts as 1.
  explicit Buffer(int capacity);

  // The slot of `frame`, for writing. A frame newer than the newest held
  // becomes the newest; the slots it moves past are cleared.
  ObjectRef& operator[](int frame);
  // A copy of the object held for `frame` (see above).
  ObjectRef get(int frame) const;

  int getCapacity() const { return static_cast<int>(slots.size()); }
  // The newest frame written, -1 before the first.
  int getNewestFrame() const { return newest; }
  // True when `frame` is within the frames held (written or not).
  bool isHeld(int frame) const;

private:
  ObjectRef& slot(int frame) { return slots[static_cast<std::size_t>(frame) % slots.size()]; }

  std::vector<ObjectRef> slots;
  int newest = -1;
};

}  // namespace TESK

#endif
