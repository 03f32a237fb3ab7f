#include "tesk/Node.h"

#include "tesk/Exception.h"
#include "tesk/NodeFactory.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <utility>

namespace TESK {

Node::Node(std::string nodeName) : name(std::move(nodeName)) {}

Node::~Node() = default;

void Node::printOn(std::ostream& out) const {
  out << "<" << className() << " " << name << " inputs:";
  for (const NodeInput& input : inputs) out << " " << input.name;
  out << " outputs:";
  for (const std::string& output : outputNames) out << " " << output;
  out << " >";
}

void Node::connectToNode(unsigned int in, Node* inputNode, unsigned int out) {
  if (in >= inputs.size())
    throw new NodeException(this, "No input with id " + std::to_string(in), __FILE__, __LINE__);
  if (inputNode == nullptr) {
    throw new NodeException(this, "Cannot connect input \"" + inputs[in].name + "\" to no node",
                            __FILE__, __LINE__);
  }
  if (out > static_cast<unsigned int>(INT32_MAX) || !inputNode->hasOutput(static_cast<int>(out))) {
    throw new NodeException(this,
                            "Cannot connect input \"" + inputs[in].name + "\": node " +
                                inputNode->getName() + " has no output with id " +
                                std::to_string(out),
                            __FILE__, __LINE__);
  }
  inputs[in].node = inputNode;
  inputs[in].outputId = static_cast<int>(out);
}

void Node::connectToNode(const std::string& in, Node* inputNode, const std::string& out) {
  int inputId = getInputID(in);
  if (inputNode == nullptr) {
    throw new NodeException(this, "Cannot connect input \"" + in + "\" to no node", __FILE__,
                            __LINE__);
  }
  int outputId = inputNode->getOutputID(out);
  connectToNode(static_cast<unsigned int>(inputId), inputNode, static_cast<unsigned int>(outputId));
}

int Node::addOutput(const std::string& outputName) {
  for (const std::string& existing : outputNames) {
    if (existing == outputName) {
      throw new NodeException(this, "Output \"" + outputName + "\" declared twice", __FILE__,
                              __LINE__);
    }
  }
  outputNames.push_back(outputName);
  return static_cast<int>(outputNames.size()) - 1;
}

int Node::addInput(const std::string& inputName) {
  for (const NodeInput& existing : inputs) {
    if (existing.name == inputName) {
      throw new NodeException(this, "Input \"" + inputName + "\" declared twice", __FILE__,
                              __LINE__);
    }
  }
  NodeInput input;
  input.name = inputName;
  inputs.push_back(input);
  return static_cast<int>(inputs.size()) - 1;
}

ObjectRef Node::getOutputNamed(const std::string& outputName, int count) {
  return getOutput(getOutputID(outputName), count);
}

void Node::initialize() {
  // Marked first, so that a node reached twice is initialized once.
  initialized = true;
  for (const NodeInput& input : inputs) {
    if (input.node != nullptr && !input.node->isInitialized()) input.node->initialize();
  }
}

bool Node::hasOutput(int output_id) const {
  return output_id >= 0 && output_id < static_cast<int>(outputNames.size());
}

int Node::getInputID(const std::string& inputName) const {
  for (std::size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].name == inputName) return static_cast<int>(i);
  throw new NodeException(this, "Unknown input \"" + inputName + "\"", __FILE__, __LINE__);
}

int Node::getOutputID(const std::string& outputName) const {
  for (std::size_t i = 0; i < outputNames.size(); ++i)
    if (outputNames[i] == outputName) return static_cast<int>(i);
  throw new NodeException(this, "Unknown output \"" + outputName + "\"", __FILE__, __LINE__);
}

ObjectRef Node::getInput(int input_id, int count) {
  if (input_id < 0 || input_id >= static_cast<int>(inputs.size())) {
    throw new NodeException(this, "No input with id " + std::to_string(input_id), __FILE__,
                            __LINE__);
  }
  const NodeInput& input = inputs[static_cast<std::size_t>(input_id)];
  if (input.node == nullptr) {
    throw new NodeException(this, "Input \"" + input.name + "\" is not connected", __FILE__,
                            __LINE__);
  }
  return input.node->getOutput(input.outputId, count);
}

namespace {

struct FactoryRegistry {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<NodeFactoryBase>> factories;
};

// Never destroyed: a plug-in's static initialisers may register factories
// at any time, and the factories' code belongs to plug-ins that are not
// unloaded before the process ends.
FactoryRegistry& factoryRegistry() {
  static FactoryRegistry* registry = new FactoryRegistry;
  return *registry;
}

}  // namespace

int Node::addFactory(const std::string& typeName, NodeFactoryBase* factory) {
  std::unique_ptr<NodeFactoryBase> owned(factory);
  if (!owned) return -1;
  FactoryRegistry& registry = factoryRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.factories.count(typeName) != 0) return -1;
  registry.factories[typeName] = std::move(owned);
  return 0;
}

NodeFactoryBase* Node::getFactoryNamed(const std::string& typeName) {
  FactoryRegistry& registry = factoryRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.factories.find(typeName);
  return it == registry.factories.end() ? nullptr : it->second.get();
}

std::vector<std::string> Node::getFactoryNames() {
  FactoryRegistry& registry = factoryRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::vector<std::string> names;
  for (const auto& entry : registry.factories) names.push_back(entry.first);
  return names;
}

}  // namespace TESK
