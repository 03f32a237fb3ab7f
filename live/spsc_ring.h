// A lock-free single-producer single-consumer ring of bytes (JACK's
// ringbuffer): the process callback writes, one worker thread reads.
// Writes are all or nothing, so the reader never sees half a record.
#pragma once

#include <jack/ringbuffer.h>

#include <cstddef>
#include <cstring>
#include <new>

namespace tesk_live {

class SpscRing {
 public:
  // At least `bytes` of room, locked in memory so the callback never faults.
  explicit SpscRing(size_t bytes) : ring_(jack_ringbuffer_create(bytes + 1)) {
    if (!ring_) throw std::bad_alloc();
    jack_ringbuffer_mlock(ring_);
  }
  ~SpscRing() { jack_ringbuffer_free(ring_); }
  SpscRing(const SpscRing&) = delete;
  SpscRing& operator=(const SpscRing&) = delete;

  // Producer: `a` then `b` as one record, or nothing when there is no room.
  bool write(const void* a, size_t na, const void* b = nullptr, size_t nb = 0) {
    if (jack_ringbuffer_write_space(ring_) < na + nb) return false;
    jack_ringbuffer_data_t v[2];
    jack_ringbuffer_get_write_vector(ring_, v);
    size_t at = 0;
    auto put = [&](const void* src, size_t n) {
      const char* p = static_cast<const char*>(src);
      while (n > 0) {
        const size_t part = at < v[0].len ? v[0].len - at : v[1].len - (at - v[0].len);
        char* dst = at < v[0].len ? v[0].buf + at : v[1].buf + (at - v[0].len);
        const size_t k = n < part ? n : part;
        std::memcpy(dst, p, k);
        p += k;
        n -= k;
        at += k;
      }
    };
    put(a, na);
    if (b) put(b, nb);
    jack_ringbuffer_write_advance(ring_, na + nb);
    return true;
  }

  // Consumer.
  size_t readable() const { return jack_ringbuffer_read_space(ring_); }
  bool peek(void* out, size_t n) const {
    return readable() >= n && jack_ringbuffer_peek(ring_, static_cast<char*>(out), n) == n;
  }
  bool read(void* out, size_t n) {
    return readable() >= n && jack_ringbuffer_read(ring_, static_cast<char*>(out), n) == n;
  }

 private:
  jack_ringbuffer_t* ring_;
};

}  // namespace tesk_live
