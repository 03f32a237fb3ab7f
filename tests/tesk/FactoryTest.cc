// The node type registry and module versions, from the program and from a
// plug-in loaded with dlopen.
#include "tesk/tesk.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace TESK;

namespace {

class Constant : public BufferedNode {
public:
  Constant(std::string name, ParameterSet params) : BufferedNode(name, params) { addOutput("OUT"); }

protected:
  void calculate(int, int count, Buffer& out) override { out[count] = FalseObject; }
};

// Counts its destructions, to see what the registry does with duplicates.
class CountedFactory : public NodeFactory<Constant> {
public:
  CountedFactory(const std::string& name, int* deleted) : NodeFactory<Constant>(name), deleted(deleted) {}
  ~CountedFactory() override { ++*deleted; }

private:
  int* deleted;
};

// Reads the value a plug-in node writes, through a node of this program.
class Reader : public BufferedNode {
public:
  Reader() : BufferedNode("reader", ParameterSet()) {
    inputId = addInput("IN");
    addOutput("OUT");
  }
  int inputId;

protected:
  void calculate(int, int count, Buffer& out) override {
    out[count] = getInput(inputId, count);
  }
};

void* loadPlugin() {
  void* handle = dlopen(TESK_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(handle, nullptr) << dlerror();
  return handle;  // kept loaded: its factory stays registered
}

}  // namespace

TEST(NodeRegistry, RegisterAndCreateByName) {
  EXPECT_EQ(Node::addFactory("Constant", new NodeFactory<Constant>("Constant")), 0);
  NodeFactoryBase* factory = Node::getFactoryNamed("Constant");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->getName(), "Constant");
  RCPtr<Node> node(factory->Create("c1", ParameterSet()));
  EXPECT_EQ(node->getName(), "c1");
  node->initialize();
  EXPECT_EQ(node->getOutputNamed("OUT", 0), FalseObject);
  EXPECT_EQ(Node::getFactoryNamed("NoSuchNode"), nullptr);
  std::vector<std::string> names = Node::getFactoryNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "Constant"), names.end());
}

TEST(NodeRegistry, DuplicateNameKeepsTheFirstFactory) {
  int deleted = 0;
  EXPECT_EQ(Node::addFactory("Duplicate", new CountedFactory("Duplicate", &deleted)), 0);
  NodeFactoryBase* first = Node::getFactoryNamed("Duplicate");
  EXPECT_EQ(Node::addFactory("Duplicate", new CountedFactory("Duplicate", &deleted)), -1);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(Node::getFactoryNamed("Duplicate"), first);
  EXPECT_EQ(Node::addFactory("Null", nullptr), -1);
  EXPECT_EQ(Node::getFactoryNamed("Null"), nullptr);
}

TEST(PluginRegistry, PluginSharesTheRegistryAndTheVersionRecord) {
  // Nothing of the plug-in is known before it is loaded.
  if (dlopen(TESK_TEST_PLUGIN, RTLD_NOW | RTLD_NOLOAD) == nullptr) {
    EXPECT_EQ(Node::getFactoryNamed("ScaledCounter"), nullptr);
    EXPECT_FALSE(Object::getModuleVersion("TESTPLUGIN").has_value());
  }
  ASSERT_NE(loadPlugin(), nullptr);

  NodeFactoryBase* factory = Node::getFactoryNamed("ScaledCounter");
  ASSERT_NE(factory, nullptr);
  std::optional<ModuleVersion> version = Object::getModuleVersion("TESTPLUGIN");
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(version->revision, "42");
  EXPECT_EQ(version->version, "1.2.3");
}

TEST(PluginRegistry, PluginNodeRunsInANetworkOfThisProgram) {
  ASSERT_NE(loadPlugin(), nullptr);
  NodeFactoryBase* factory = Node::getFactoryNamed("ScaledCounter");
  ASSERT_NE(factory, nullptr);
  ParameterSet params;
  params.add("SCALE", ObjectRef(NetCType<float>::alloc(0.5f)));
  RCPtr<Node> counter(factory->Create("counter", params));
  RCPtr<Reader> reader(new Reader);
  reader->connectToNode("IN", counter.get(), "VALUE");
  reader->initialize();
  EXPECT_TRUE(counter->isInitialized());
  EXPECT_EQ(dereference_cast<float>(reader->getOutput(0, 4)), 2.0f);
  // One TrueObject for the plug-in and the program.
  EXPECT_EQ(counter->getOutputNamed("FLAG", 4), TrueObject);
}

TEST(PluginRegistry, PluginNodeConstructionFailureReachesTheHost) {
  ASSERT_NE(loadPlugin(), nullptr);
  NodeFactoryBase* factory = Node::getFactoryNamed("ScaledCounter");
  ASSERT_NE(factory, nullptr);
  ParameterSet params;
  params.add("SCALE", ObjectRef(NetCType<int>::alloc(2)));
  try {
    RCPtr<Node> counter(factory->Create("counter", params));
    ADD_FAILURE() << "an int scale was accepted";
  } catch (BaseException* e) {
    std::unique_ptr<BaseException> owned(e);
    EXPECT_NE(dynamic_cast<CastException*>(e), nullptr);
    EXPECT_EQ(e->message(), "Cast error: Trying to cast ObjectRef (Int) into Float");
  }
}
