#include "engine/RingIBuffer.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RingIBuffer, ReadsInitValueBeforeAnyPush) {
  RingIBuffer<double> ring(4);
  ring.init(7.0);
  for (unsigned long age = 0; age < 4; ++age) EXPECT_EQ(ring[age], 7.0);
}

TEST(RingIBuffer, PartialFillShowsInitValueBeyondPushes) {
  RingIBuffer<double> ring(4);
  ring.init(0.0);
  ring.push_back(1.0);
  ring.push_back(2.0);
  EXPECT_EQ(ring[0], 2.0);
  EXPECT_EQ(ring[1], 1.0);
  EXPECT_EQ(ring[2], 0.0);
  EXPECT_EQ(ring[3], 0.0);
}

TEST(RingIBuffer, WrapsAndKeepsNewestCapacityElements) {
  RingIBuffer<double> ring(4);
  ring.init(0.0);
  for (double v = 1; v <= 5; ++v) ring.push_back(v);
  EXPECT_EQ(ring[0], 5.0);
  EXPECT_EQ(ring[1], 4.0);
  EXPECT_EQ(ring[2], 3.0);
  EXPECT_EQ(ring[3], 2.0);
  // Many more wraps.
  for (double v = 6; v <= 103; ++v) ring.push_back(v);
  for (unsigned long age = 0; age < 4; ++age) EXPECT_EQ(ring[age], 103.0 - static_cast<double>(age));
}

TEST(RingIBuffer, WritesThroughReferenceUntilSlotIsReused) {
  RingIBuffer<unsigned long> ring(3);
  ring.init(0);
  ring.push_back(10);
  ring.push_back(20);
  ring[1] = 99;  // the element holding 10
  ring[0] += 1;
  EXPECT_EQ(ring[0], 21ul);
  EXPECT_EQ(ring[1], 99ul);
  ring.push_back(30);
  EXPECT_EQ(ring[2], 99ul);  // still the same element, now two pushes old
  ring.push_back(40);        // overwrites the slot of 99
  EXPECT_EQ(ring[0], 40ul);
  EXPECT_EQ(ring[1], 30ul);
  EXPECT_EQ(ring[2], 21ul);
}

TEST(RingIBuffer, VectorSlotTakesLengthOfPushedVector) {
  RingIBuffer<std::vector<double>> ring(3);
  ring.init(std::vector<double>(64, 0.0));
  std::vector<double> twelve(12, 1.5);
  ring.push_back(twelve);
  EXPECT_EQ(ring[0], twelve);
  EXPECT_EQ(ring[1].size(), 64u);
  EXPECT_EQ(twelve.size(), 12u);  // the argument is a copy
  ring[0][3] = -2.0;
  EXPECT_EQ(ring[0][3], -2.0);
}
