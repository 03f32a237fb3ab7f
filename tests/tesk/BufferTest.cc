// Output buffers and parameter sets.
#include "tesk/tesk.h"

#include <gtest/gtest.h>

#include "RaisedMessage.h"

#include <climits>
#include <memory>

using namespace TESK;

namespace {

ObjectRef boxed(float v) { return ObjectRef(NetCType<float>::alloc(v)); }

}  // namespace

TEST(Buffer, HoldsTheLastFramesWritten) {
  Buffer buffer(3);
  for (int frame = 0; frame < 5; ++frame) buffer[frame] = boxed(static_cast<float>(frame));
  EXPECT_EQ(buffer.getNewestFrame(), 4);
  EXPECT_EQ(dereference_cast<float>(buffer.get(4)), 4.0f);
  EXPECT_EQ(dereference_cast<float>(buffer.get(2)), 2.0f);
  EXPECT_TRUE(buffer.isHeld(2));
  EXPECT_FALSE(buffer.isHeld(1));
  EXPECT_EQ(raisedMessage([&] { buffer.get(1); }),
            "Buffer: frame 1 is no longer held (frames held: 2 to 4)");
  EXPECT_EQ(raisedMessage([&] { buffer[0] = nilObject; }),
            "Buffer: frame 0 is no longer held (frames held: 2 to 4)");
  EXPECT_EQ(raisedMessage([&] { buffer.get(-1); }), "Buffer: negative frame -1");
}

TEST(Buffer, FramesNotWrittenAreNil) {
  Buffer buffer(4);
  EXPECT_TRUE(buffer.get(0).isNil());
  buffer[1] = boxed(1.0f);
  EXPECT_TRUE(buffer.get(0).isNil());
  EXPECT_TRUE(buffer.get(9).isNil());
  // Jumping ahead clears the slots of the frames it skips.
  buffer[2] = boxed(2.0f);
  buffer[5] = boxed(5.0f);
  EXPECT_TRUE(buffer.get(3).isNil());
  EXPECT_TRUE(buffer.get(4).isNil());
  EXPECT_EQ(dereference_cast<float>(buffer.get(2)), 2.0f);
  buffer[100] = boxed(100.0f);
  for (int frame = 97; frame < 100; ++frame) EXPECT_TRUE(buffer.get(frame).isNil()) << frame;
}

TEST(Buffer, OverwritingAHeldFrameReplacesItsObject) {
  Buffer buffer(2);
  buffer[0] = boxed(1.0f);
  buffer[1] = boxed(2.0f);
  buffer[0] = boxed(3.0f);
  EXPECT_EQ(dereference_cast<float>(buffer.get(0)), 3.0f);
  EXPECT_EQ(buffer.getNewestFrame(), 1);
}

TEST(Buffer, MemoryStaysBoundedOverALongStream) {
  Buffer buffer(2);
  ObjectRef first = boxed(0.0f);
  buffer[0] = first;
  EXPECT_EQ(first->refCount(), 2);
  for (int frame = 1; frame < 100000; ++frame) buffer[frame] = boxed(static_cast<float>(frame));
  // The buffer let go of frame 0 long ago; only two frames are referenced.
  EXPECT_EQ(first->refCount(), 1);
  EXPECT_EQ(buffer.getCapacity(), 2);
  EXPECT_EQ(buffer.get(99999)->refCount(), 2);  // the buffer's and this copy
}

TEST(Buffer, LastRepresentableFrame) {
  Buffer buffer(3);
  buffer[INT_MAX - 1] = boxed(1.0f);
  buffer[INT_MAX] = boxed(2.0f);
  EXPECT_EQ(dereference_cast<float>(buffer.get(INT_MAX - 1)), 1.0f);
  EXPECT_EQ(dereference_cast<float>(buffer.get(INT_MAX)), 2.0f);
  EXPECT_TRUE(buffer.get(INT_MAX - 2).isNil());
}

TEST(Buffer, CapacityIsAtLeastOne) {
  Buffer buffer(0);
  EXPECT_EQ(buffer.getCapacity(), 1);
  buffer[0] = boxed(1.0f);
  EXPECT_EQ(dereference_cast<float>(buffer.get(0)), 1.0f);
}

TEST(ParameterSet, AddGetExist) {
  ParameterSet params;
  EXPECT_FALSE(params.exist("ADVANCE"));
  params.add("ADVANCE", ObjectRef(NetCType<int>::alloc(441)));
  EXPECT_TRUE(params.exist("ADVANCE"));
  EXPECT_EQ(dereference_cast<int>(params.get("ADVANCE")), 441);
  params.add("ADVANCE", ObjectRef(NetCType<int>::alloc(512)));
  EXPECT_EQ(dereference_cast<int>(params.get("ADVANCE")), 512);
  EXPECT_EQ(params.size(), 1u);

  // Copies share the objects, not the set.
  ParameterSet copy = params;
  copy.add("MIN_BPM", ObjectRef(NetCType<int>::alloc(60)));
  EXPECT_FALSE(params.exist("MIN_BPM"));
  EXPECT_EQ(copy.get("ADVANCE").get(), params.get("ADVANCE").get());
}

TEST(ParameterSet, MissingParameterIsNamed) {
  ParameterSet params;
  EXPECT_EQ(raisedMessage([&] { params.get("MAX_BPM"); }), "Missing parameter: MAX_BPM");
}
