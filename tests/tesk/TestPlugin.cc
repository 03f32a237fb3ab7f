// A plug-in as a host loads it: its static initialisers register a node
// type and a module version with libtesk-base.
#include "tesk/tesk.h"

using namespace TESK;

namespace {

// Writes SCALE * frame on "VALUE" and TrueObject on "FLAG".
class ScaledCounter : public BufferedNode {
public:
  ScaledCounter(std::string name, ParameterSet params) : BufferedNode(name, params) {
    valueId = addOutput("VALUE");
    flagId = addOutput("FLAG");
    scale = dereference_cast<float>(ownParameters.get("SCALE"));
    inOrder = true;
  }

protected:
  void calculate(int, int count, Buffer&) override {
    (*outputSlots[valueId].buffer)[count] =
        ObjectRef(NetCType<float>::alloc(scale * static_cast<float>(count)));
    (*outputSlots[flagId].buffer)[count] = TrueObject;
  }

private:
  int valueId;
  int flagId;
  float scale;
};

int factoryAdded = Node::addFactory("ScaledCounter", new NodeFactory<ScaledCounter>("ScaledCounter"));
int versionSet = Object::setModuleVersion("TESTPLUGIN", "42", "1.2.3");

}  // namespace
