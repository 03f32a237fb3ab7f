// A node that computes its frames one at a time, in order, and keeps the
// recent results of each output in a Buffer.
//
// A subclass declares its ports in its constructor, implements calculate()
// and writes each output's object for frame `count` into
// (*outputSlots[id].buffer)[count]. Before initialize() each output holds
// one frame; initialize() sizes each output's buffer to
// behindMargin + aheadMargin + 1 frames.
#ifndef TESK_BUFFEREDNODE_H
#define TESK_BUFFEREDNODE_H

#include "tesk/Buffer.h"
#include "tesk/Node.h"
#include "tesk/ParameterSet.h"

#include <memory>
#include <string>
#include <vector>

namespace TESK {

struct OutputCacheInfo {
  std::unique_ptr<Buffer> buffer;
  int aheadMargin = 0;   // frames after the newest a reader may ask for
  int behindMargin = 0;  // frames before the newest a reader may ask for
};

class BufferedNode : public Node {
public:
  BufferedNode(std::string nodeName, const ParameterSet& params);
  ~BufferedNode() override;

  // Also create the output's slot.
  int addOutput(const std::string& outputName) override;
  int addInput(const std::string& inputName) override;

  // Computes every frame from lastFrameDone + 1 up to `count` in order
  // (each once; lastFrameDone advances after each), then returns the
  // output's object for `count`. A BaseException raised on the way is
  // rethrown with a NodeException added to it; lastFrameDone then stays at
  // the last frame that succeeded.
  ObjectRef getOutput(int output_id, int count) override;
  // Node::initialize(), then initializeBuffers().
  void initialize() override;

protected:
  // Computes frame `count`: writes its object for every output. `out` is
  // the buffer of `output_id`, the output that was requested.
  virtual void calculate(int output_id, int count, Buffer& out) = 0;
  // Gives every output a new, empty buffer sized from its margins.
  // Negative margins raise a NodeException.
  virtual void initializeBuffers();

  ParameterSet ownParameters;
  std::vector<OutputCacheInfo> outputSlots;  // indexed by output id
  int lastFrameDone = -1;
  // Set by nodes whose frames depend on the ones before. getOutput() here
  // always computes in order, so the flag only records that need.
  bool inOrder = false;
};

}  // namespace TESK

#endif
