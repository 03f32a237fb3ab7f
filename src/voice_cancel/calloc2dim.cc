#include "voice_cancel/calloc2dim.h"

#include <cstdint>
#include <cstdlib>

void** calloc2dim(unsigned elem_size, unsigned rows, unsigned cols) {
  // The size is a 32-bit quantity; one that wraps would give a short block.
  const std::uint64_t table = std::uint64_t(rows) * sizeof(void*);
  const std::uint64_t row_bytes = std::uint64_t(cols) * elem_size;
  const std::uint64_t total = table + std::uint64_t(rows) * row_bytes;
  if (total > UINT32_MAX) {
    return nullptr;
  }
  const unsigned size = rows * 8u + rows * cols * elem_size;
  void** block = static_cast<void**>(std::calloc(size, 1));
  if (block == nullptr) {
    return nullptr;
  }
  char* data = reinterpret_cast<char*>(block) + table;
  for (unsigned r = 0; r < rows; ++r) {
    block[r] = data + std::uint64_t(r) * row_bytes;
  }
  return block;
}
