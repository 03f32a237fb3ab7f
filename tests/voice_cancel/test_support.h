#ifndef TESTS_VOICE_CANCEL_TEST_SUPPORT_H
#define TESTS_VOICE_CANCEL_TEST_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// A read-only stream over a byte buffer that records whether it was closed,
// so tests can tell who closes it. Closing releases only the FILE itself;
// the buffer and the flag belong to the test.
class ByteStream {
public:
  explicit ByteStream(std::vector<unsigned char> bytes);
  ~ByteStream();
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  FILE* file() const { return file_; }
  bool closed() const { return closed_; }

private:
  static ssize_t read(void* cookie, char* buffer, size_t size);
  static int close(void* cookie);

  std::vector<unsigned char> bytes_;
  std::size_t offset_ = 0;
  bool closed_ = false;
  FILE* file_ = nullptr;
};

inline ByteStream::ByteStream(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {
  cookie_io_functions_t functions{};
  functions.read = &ByteStream::read;
  functions.close = &ByteStream::close;
  file_ = fopencookie(this, "r", functions);
}

inline ByteStream::~ByteStream() {
  if (!closed_ && file_ != nullptr) {
    std::fclose(file_);
  }
}

inline ssize_t ByteStream::read(void* cookie, char* buffer, size_t size) {
  ByteStream* self = static_cast<ByteStream*>(cookie);
  const std::size_t left = self->bytes_.size() - self->offset_;
  const std::size_t n = size < left ? size : left;
  if (n > 0) {
    std::memcpy(buffer, self->bytes_.data() + self->offset_, n);
  }
  self->offset_ += n;
  return static_cast<ssize_t>(n);
}

inline int ByteStream::close(void* cookie) {
  static_cast<ByteStream*>(cookie)->closed_ = true;
  return 0;
}

// Builds state files byte by byte in native order.
class StateFileBuilder {
public:
  StateFileBuilder& i32(std::int32_t value) { return raw(&value, sizeof value); }
  StateFileBuilder& f64(double value) { return raw(&value, sizeof value); }
  const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
  StateFileBuilder& raw(const void* data, std::size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

// Everything written to a temporary file, read back.
inline std::vector<unsigned char> contents_of(FILE* file) {
  std::fflush(file);
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::rewind(file);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  if (size > 0 && std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    bytes.clear();
  }
  return bytes;
}

inline std::uint64_t bits_of(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// How many values a generator seeded with `seed` gave before `next`, the
// value observed now; -1 if not within the first `limit`.
inline int draws_made(unsigned seed, int next, int limit = 100000) {
  std::srand(seed);
  for (int i = 0; i <= limit; ++i) {
    if (std::rand() == next) {
      return i;
    }
  }
  return -1;
}

#endif
