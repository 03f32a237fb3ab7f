#include "tesk/BufferedNode.h"

#include "tesk/Exception.h"

#include <utility>

namespace TESK {

BufferedNode::BufferedNode(std::string nodeName, const ParameterSet& params)
    : Node(std::move(nodeName)), ownParameters(params) {}

BufferedNode::~BufferedNode() = default;

int BufferedNode::addOutput(const std::string& outputName) {
  int id = Node::addOutput(outputName);
  OutputCacheInfo slot;
  // One frame until initialize() sizes the buffer from the margins.
  slot.buffer = std::make_unique<Buffer>(1);
  outputSlots.push_back(std::move(slot));
  return id;
}

int BufferedNode::addInput(const std::string& inputName) { return Node::addInput(inputName); }

ObjectRef BufferedNode::getOutput(int output_id, int count) {
  if (!hasOutput(output_id)) {
    throw new NodeException(this, "No output with id " + std::to_string(output_id), __FILE__,
                            __LINE__);
  }
  try {
    Buffer& out = *outputSlots[static_cast<std::size_t>(output_id)].buffer;
    while (lastFrameDone < count) {
      int frame = lastFrameDone + 1;
      calculate(output_id, frame, out);
      lastFrameDone = frame;
    }
    return out.get(count);
  } catch (BaseException* e) {
    throw e->add(new NodeException(this, "Exception caught in BufferedNode::getOutput", __FILE__,
                                   __LINE__));
  }
}

void BufferedNode::initialize() {
  Node::initialize();
  initializeBuffers();
}

void BufferedNode::initializeBuffers() {
  for (std::size_t id = 0; id < outputSlots.size(); ++id) {
    OutputCacheInfo& slot = outputSlots[id];
    if (slot.aheadMargin < 0 || slot.behindMargin < 0) {
      throw new NodeException(this, "Negative margin on output \"" + outputNames[id] + "\"",
                              __FILE__, __LINE__);
    }
    slot.buffer = std::make_unique<Buffer>(slot.behindMargin + slot.aheadMargin + 1);
  }
}

}  // namespace TESK
