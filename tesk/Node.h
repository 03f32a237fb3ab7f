// A node of a dataflow network: named inputs, each connected to an output
// of an upstream node, and named outputs computed frame by frame.
//
// Ownership: a node never owns the nodes it is connected to. The program
// that builds a network owns every node (through an RCPtr or with delete)
// and keeps them all alive while any of them is used.
#ifndef TESK_NODE_H
#define TESK_NODE_H

#include "tesk/Object.h"

#include <string>
#include <vector>

namespace TESK {

class Node;
class NodeFactoryBase;

// One declared input and where it is connected.
struct NodeInput {
  std::string name;
  Node* node = nullptr;  // upstream node, null while unconnected
  int outputId = -1;     // output of the upstream node
};

class Node : public Object {
public:
  explicit Node(std::string nodeName);
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ~Node() override;

  const std::string& getName() const { return name; }
  // "<Node NAME inputs: A B outputs: C D >"
  void printOn(std::ostream& out) const override;

  // Connects input `in` of this node to output `out` of `inputNode`,
  // replacing an earlier connection. Raises a NodeException for an unknown
  // input or output id or a null node.
  virtual void connectToNode(unsigned int in, Node* inputNode, unsigned int out);
  // Declare a port and give its id: 0, 1, 2... in order of declaration.
  // A name declared twice raises a NodeException.
  virtual int addOutput(const std::string& outputName);
  virtual int addInput(const std::string& inputName);
  virtual const std::vector<NodeInput>& getInputs() const { return inputs; }
  // The object of output `output_id` for frame `count`.
  virtual ObjectRef getOutput(int output_id, int count) = 0;
  virtual ObjectRef getOutputNamed(const std::string& outputName, int count);
  // By port names: input `in` of this node, output `out` of `inputNode`.
  virtual void connectToNode(const std::string& in, Node* inputNode, const std::string& out);
  // Prepares the node before the first request; initializes each connected
  // upstream node that is not yet initialized, first. Call it once, on the
  // last node of the network, after all connections are made.
  virtual void initialize();
  virtual bool hasOutput(int output_id) const;
  // Port ids by name; an unknown name raises a NodeException.
  virtual int getInputID(const std::string& inputName) const;
  virtual int getOutputID(const std::string& outputName) const;

  // The object of input `input_id` for frame `count`, asked of the
  // connected upstream node. Raises a NodeException naming the input when
  // it is not connected.
  ObjectRef getInput(int input_id, int count);

  bool isInitialized() const { return initialized; }
  int getNumInputs() const { return static_cast<int>(inputs.size()); }
  int getNumOutputs() const { return static_cast<int>(outputNames.size()); }
  const std::vector<std::string>& getOutputNames() const { return outputNames; }

  // The node type registry. addFactory takes ownership of the factory and
  // returns 0; a name already registered keeps its first factory, the new
  // one is deleted and -1 is returned. Factories live until the process
  // ends, so a plug-in that registers some must stay loaded.
  static int addFactory(const std::string& typeName, NodeFactoryBase* factory);
  // The factory registered under `typeName`, or null.
  static NodeFactoryBase* getFactoryNamed(const std::string& typeName);
  static std::vector<std::string> getFactoryNames();

protected:
  std::string name;
  std::vector<NodeInput> inputs;
  std::vector<std::string> outputNames;

private:
  bool initialized = false;
};

}  // namespace TESK

#endif
