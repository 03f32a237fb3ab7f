// Factories that build nodes by type name. The registry that holds them
// (Node::addFactory, Node::getFactoryNamed) lives in libtesk-base, so a
// plug-in and the program that loads it share it.
#ifndef TESK_NODEFACTORY_H
#define TESK_NODEFACTORY_H

#include "tesk/Node.h"
#include "tesk/ParameterSet.h"

#include <string>
#include <utility>

namespace TESK {

class NodeFactoryBase {
public:
  explicit NodeFactoryBase(std::string typeName) : name(std::move(typeName)) {}
  NodeFactoryBase(const NodeFactoryBase&) = delete;
  NodeFactoryBase& operator=(const NodeFactoryBase&) = delete;
  virtual ~NodeFactoryBase() = default;

  // A new node, owned by the caller.
  virtual Node* Create(const std::string& nodeName, const ParameterSet& params) = 0;
  const std::string& getName() const { return name; }

private:
  std::string name;
};

// T must have a constructor T(std::string, ParameterSet).
template <class T>
class NodeFactory : public NodeFactoryBase {
public:
  explicit NodeFactory(std::string typeName) : NodeFactoryBase(std::move(typeName)) {}
  Node* Create(const std::string& nodeName, const ParameterSet& params) override {
    return new T(nodeName, params);
  }
};

}  // namespace TESK

#endif
