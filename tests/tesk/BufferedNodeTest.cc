// Networks of buffered nodes: ports, connections, initialization and the
// order in which frames are computed.
#include "tesk/tesk.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

using namespace TESK;

namespace {

// Hands out 10 * frame on "OUT" and records the frames it computes.
class CountingSource : public BufferedNode {
public:
  CountingSource(const std::string& name, const ParameterSet& params) : BufferedNode(name, params) {
    outputId = addOutput("OUT");
  }
  void initialize() override {
    ++initializeCalls;
    BufferedNode::initialize();
  }

  std::vector<int> computed;
  int initializeCalls = 0;
  int failOnFrame = -1;
  int outputId;

protected:
  void calculate(int, int count, Buffer& out) override {
    if (count == failOnFrame) throw new GeneralException("source failed", "src.cc", 1);
    computed.push_back(count);
    out[count] = ObjectRef(NetCType<int>::alloc(10 * count));
  }
};

// Two outputs from one input, both written on every frame.
class Doubler : public BufferedNode {
public:
  Doubler(const std::string& name, const ParameterSet& params) : BufferedNode(name, params) {
    inputId = addInput("IN");
    doubleId = addOutput("DOUBLE");
    plusOneId = addOutput("PLUS_ONE");
    inOrder = true;
  }
  using BufferedNode::outputSlots;

  std::vector<int> computed;
  int inputId, doubleId, plusOneId;

protected:
  void calculate(int, int count, Buffer&) override {
    int v = dereference_cast<int>(getInput(inputId, count));
    computed.push_back(count);
    (*outputSlots[doubleId].buffer)[count] = ObjectRef(NetCType<int>::alloc(2 * v));
    (*outputSlots[plusOneId].buffer)[count] = ObjectRef(NetCType<int>::alloc(v + 1));
  }
};

int value(const ObjectRef& ref) { return dereference_cast<int>(ref); }

std::string printedChain(const BaseException* e) {
  std::ostringstream out;
  e->print(out);
  return out.str();
}

// True when every piece occurs in `text`, each after the one before.
bool inOrder(const std::string& text, std::initializer_list<std::string> pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    at = text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
  }
  return true;
}

struct Network {
  ParameterSet params;
  RCPtr<CountingSource> source{new CountingSource("source", params)};
  RCPtr<Doubler> doubler{new Doubler("doubler", params)};
  Network() { doubler->connectToNode("IN", source.get(), "OUT"); }
};

}  // namespace

TEST(NodePorts, IdsNamesAndConnections) {
  Network net;
  EXPECT_EQ(net.doubler->doubleId, 0);
  EXPECT_EQ(net.doubler->plusOneId, 1);
  EXPECT_EQ(net.doubler->getOutputID("PLUS_ONE"), 1);
  EXPECT_EQ(net.doubler->getInputID("IN"), 0);
  EXPECT_TRUE(net.doubler->hasOutput(1));
  EXPECT_FALSE(net.doubler->hasOutput(2));
  EXPECT_FALSE(net.doubler->hasOutput(-1));
  ASSERT_EQ(net.doubler->getInputs().size(), 1u);
  EXPECT_EQ(net.doubler->getInputs()[0].node, net.source.get());
  EXPECT_EQ(net.doubler->getInputs()[0].outputId, 0);
  EXPECT_EQ(net.doubler->getName(), "doubler");
  std::ostringstream out;
  out << *net.doubler;
  EXPECT_EQ(out.str(), "<(anonymous namespace)::Doubler doubler inputs: IN outputs: DOUBLE PLUS_ONE >");
}

TEST(NodePorts, BadNamesAndIdsRaiseNodeExceptions) {
  Network net;
  auto expectNodeError = [](auto f, const std::string& message) {
    try {
      f();
      ADD_FAILURE() << "nothing raised for " << message;
    } catch (BaseException* e) {
      std::unique_ptr<BaseException> owned(e);
      ASSERT_NE(dynamic_cast<NodeException*>(e), nullptr);
      EXPECT_EQ(e->message(), message);
    }
  };
  Doubler* d = net.doubler.get();
  CountingSource* s = net.source.get();
  expectNodeError([&] { d->getInputID("AUDIO"); }, "Unknown input \"AUDIO\"");
  expectNodeError([&] { d->getOutputID("TEMPO"); }, "Unknown output \"TEMPO\"");
  expectNodeError([&] { d->addInput("IN"); }, "Input \"IN\" declared twice");
  expectNodeError([&] { d->addOutput("DOUBLE"); }, "Output \"DOUBLE\" declared twice");
  expectNodeError([&] { d->connectToNode(1u, s, 0u); }, "No input with id 1");
  expectNodeError([&] { d->connectToNode(0u, s, 3u); },
                  "Cannot connect input \"IN\": node source has no output with id 3");
  expectNodeError([&] { d->connectToNode(0u, nullptr, 0u); }, "Cannot connect input \"IN\" to no node");
  expectNodeError([&] { d->connectToNode("IN", s, "NOPE"); }, "Unknown output \"NOPE\"");
  expectNodeError([&] { d->getOutput(5, 0); }, "No output with id 5");
  expectNodeError([&] { d->getInput(4, 0); }, "No input with id 4");
}

TEST(BufferedNode, FirstRequestComputesEveryFrameUpToItInOrder) {
  Network net;
  net.doubler->initialize();
  EXPECT_EQ(value(net.doubler->getOutput(net.doubler->doubleId, 3)), 60);
  EXPECT_EQ(net.source->computed, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(net.doubler->computed, (std::vector<int>{0, 1, 2, 3}));

  // The other output of the same frame was written by the same computation.
  EXPECT_EQ(value(net.doubler->getOutputNamed("PLUS_ONE", 3)), 31);
  EXPECT_EQ(value(net.doubler->getOutput(net.doubler->doubleId, 3)), 60);
  EXPECT_EQ(net.doubler->computed.size(), 4u);
  EXPECT_EQ(net.source->computed.size(), 4u);

  EXPECT_EQ(value(net.doubler->getOutput(net.doubler->plusOneId, 5)), 51);
  EXPECT_EQ(net.doubler->computed, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(BufferedNode, EarlierFrameWithinTheMarginsIsServedWithoutComputing) {
  Network net;
  net.doubler->outputSlots[net.doubler->doubleId].behindMargin = 2;
  net.doubler->initialize();
  EXPECT_EQ(net.doubler->outputSlots[0].buffer->getCapacity(), 3);
  EXPECT_EQ(net.doubler->outputSlots[1].buffer->getCapacity(), 1);
  net.doubler->getOutput(net.doubler->doubleId, 5);
  EXPECT_EQ(value(net.doubler->getOutput(net.doubler->doubleId, 3)), 60);
  EXPECT_EQ(net.doubler->computed.size(), 6u);

  // Beyond the margins the frame is gone: a clear error, nothing computed.
  try {
    net.doubler->getOutput(net.doubler->doubleId, 2);
    ADD_FAILURE() << "frame 2 should be gone";
  } catch (BaseException* e) {
    std::unique_ptr<BaseException> owned(e);
    EXPECT_EQ(e->message(), "Buffer: frame 2 is no longer held (frames held: 3 to 5)");
    EXPECT_TRUE(inOrder(printedChain(e),
                        {"Buffer: frame 2 is no longer held",
                         ": node doubler: Exception caught in BufferedNode::getOutput\n"}));
  }
  EXPECT_EQ(net.doubler->computed.size(), 6u);
}

TEST(BufferedNode, InitializeSizesBuffersAndReachesUpstreamOnce) {
  ParameterSet params;
  RCPtr<CountingSource> source(new CountingSource("source", params));
  RCPtr<Doubler> left(new Doubler("left", params));
  RCPtr<Doubler> right(new Doubler("right", params));
  left->connectToNode("IN", source.get(), "OUT");
  right->connectToNode("IN", source.get(), "OUT");
  right->outputSlots[0].aheadMargin = 1;
  right->outputSlots[0].behindMargin = 4;
  left->initialize();
  right->initialize();
  EXPECT_EQ(source->initializeCalls, 1);
  EXPECT_TRUE(source->isInitialized());
  EXPECT_EQ(right->outputSlots[0].buffer->getCapacity(), 6);
  EXPECT_EQ(right->outputSlots[1].buffer->getCapacity(), 1);

  right->outputSlots[1].behindMargin = -1;
  try {
    right->initialize();
    ADD_FAILURE() << "a negative margin was accepted";
  } catch (BaseException* e) {
    std::unique_ptr<BaseException> owned(e);
    EXPECT_EQ(e->message(), "Negative margin on output \"PLUS_ONE\"");
  }
}

TEST(BufferedNode, UnconnectedInputIsNamed) {
  ParameterSet params;
  RCPtr<Doubler> lonely(new Doubler("lonely", params));
  lonely->initialize();
  try {
    lonely->getOutput(lonely->doubleId, 0);
    ADD_FAILURE() << "nothing raised";
  } catch (BaseException* e) {
    std::unique_ptr<BaseException> owned(e);
    EXPECT_EQ(e->message(), "Input \"IN\" is not connected");
    ASSERT_NE(e->next(), nullptr);
    EXPECT_EQ(e->next()->message(), "Exception caught in BufferedNode::getOutput");
  }
  EXPECT_TRUE(lonely->computed.empty());
}

TEST(BufferedNode, FailedFrameIsRetriedAndEarlierFramesAreKept) {
  Network net;
  net.doubler->initialize();
  net.source->failOnFrame = 2;
  try {
    net.doubler->getOutput(net.doubler->doubleId, 4);
    ADD_FAILURE() << "nothing raised";
  } catch (BaseException* e) {
    std::unique_ptr<BaseException> owned(e);
    // The source's failure, wrapped by the source, then by the doubler.
    EXPECT_TRUE(inOrder(printedChain(e),
                        {"src.cc:1: source failed\n",
                         ": node source: Exception caught in BufferedNode::getOutput\n",
                         ": node doubler: Exception caught in BufferedNode::getOutput\n"}))
        << printedChain(e);
    EXPECT_EQ(e->message(), "source failed");
    ASSERT_NE(e->next(), nullptr);
    EXPECT_EQ(static_cast<const NodeException*>(e->next())->getNodeName(), "source");
    ASSERT_NE(e->next()->next(), nullptr);
    EXPECT_EQ(static_cast<const NodeException*>(e->next()->next())->getNodeName(), "doubler");
  }
  EXPECT_EQ(net.doubler->computed, (std::vector<int>{0, 1}));

  net.source->failOnFrame = -1;
  EXPECT_EQ(value(net.doubler->getOutput(net.doubler->doubleId, 4)), 80);
  EXPECT_EQ(net.doubler->computed, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(net.source->computed, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(BufferedNode, OutputNotWrittenForAFrameIsNil) {
  class Silent : public BufferedNode {
  public:
    Silent() : BufferedNode("silent", ParameterSet()) {
      addOutput("A");
      addOutput("B");
    }

  protected:
    void calculate(int, int count, Buffer&) override {
      (*outputSlots[0].buffer)[count] = TrueObject;
    }
  };
  RCPtr<Silent> node(new Silent);
  node->initialize();
  EXPECT_TRUE(node->getOutput(1, 2).isNil());
  EXPECT_EQ(node->getOutput(0, 2), TrueObject);
}

TEST(BufferedNode, KeepsItsOwnParameters) {
  class WithParams : public BufferedNode {
  public:
    explicit WithParams(const ParameterSet& params) : BufferedNode("p", params) {
      advance = dereference_cast<int>(ownParameters.get("ADVANCE"));
    }
    int advance;

  protected:
    void calculate(int, int, Buffer&) override {}
  };
  ParameterSet params;
  params.add("ADVANCE", ObjectRef(NetCType<int>::alloc(441)));
  WithParams node(params);
  EXPECT_EQ(node.advance, 441);
}
