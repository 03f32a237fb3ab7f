#include "voice_cancel/calloc2dim.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

TEST(Calloc2dim, TableThenContiguousZeroedRows) {
  void** block = calloc2dim(8, 3, 2);
  ASSERT_NE(block, nullptr);
  const char* base = reinterpret_cast<const char*>(block);
  EXPECT_EQ(static_cast<const char*>(block[0]) - base, 24);
  EXPECT_EQ(static_cast<const char*>(block[1]) - base, 40);
  EXPECT_EQ(static_cast<const char*>(block[2]) - base, 56);
  // All 72 bytes belong to the block (the sanitizer build checks the bound)
  // and the rows start zeroed.
  const char* rows = base + 24;
  for (int i = 0; i < 48; ++i) {
    EXPECT_EQ(rows[i], 0) << i;
  }
  double** values = reinterpret_cast<double**>(block);
  values[2][1] = 7.5;
  EXPECT_EQ(std::memcmp(base + 64, &values[2][1], sizeof(double)), 0);
  std::free(block);
}

TEST(Calloc2dim, OddElementSizes) {
  void** block = calloc2dim(3, 2, 5);
  ASSERT_NE(block, nullptr);
  const char* base = reinterpret_cast<const char*>(block);
  EXPECT_EQ(static_cast<const char*>(block[0]) - base, 16);
  EXPECT_EQ(static_cast<const char*>(block[1]) - base, 31);
  static_cast<char*>(block[1])[14] = 1;  // last byte of the block
  std::free(block);
}

TEST(Calloc2dim, SizeBeyond32BitsGivesNull) {
  // 2^16 rows of 2^16 bytes wrap to a 512 KiB block in 32 bits.
  EXPECT_EQ(calloc2dim(1, 65536, 65536), nullptr);
  // The table alone pushes this one past 2^32.
  EXPECT_EQ(calloc2dim(8, 1u << 28, 2), nullptr);
  EXPECT_EQ(calloc2dim(UINT32_MAX, 2, 1), nullptr);
}
