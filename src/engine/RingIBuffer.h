#ifndef BEAT_TRACKER_ENGINE_RING_I_BUFFER_H
#define BEAT_TRACKER_ENGINE_RING_I_BUFFER_H

#include <cstdint>
#include <utility>
#include <vector>

// Fixed-capacity, always-full history read by age: [0] is the newest element,
// [k] the one pushed k pushes before it. Before `init` it holds no slots.
template <typename T>
class RingIBuffer {
 public:
  explicit RingIBuffer(unsigned long capacity) : capacity(capacity), position(0) {}

  // Fills every slot with `value`; the write position is kept.
  void init(T value) { storage.assign(capacity, value); }

  void push_back(T value) {
    position = position + 1;
    if (position >= capacity) position = position - capacity;
    storage[position] = std::move(value);
  }

  // Ages 0 .. capacity - 1 are valid. The index is formed in 32-bit signed
  // arithmetic and wrapped once, as the stored histories expect.
  T& operator[](unsigned long age) {
    int32_t i = static_cast<int32_t>(static_cast<uint32_t>(position) -
                                     static_cast<uint32_t>(age));
    if (i < 0) i = static_cast<int32_t>(static_cast<uint32_t>(i) + static_cast<uint32_t>(capacity));
    return storage[static_cast<uint32_t>(i)];
  }

 private:
  std::vector<T> storage;
  unsigned long capacity;
  unsigned long position;
};

#endif
