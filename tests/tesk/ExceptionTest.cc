// Exception chaining, printing and freeing.
#include "tesk/tesk.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

using namespace TESK;

namespace {

std::string printed(const BaseException& e) {
  std::ostringstream out;
  e.print(out);
  return out.str();
}

class NamedNode : public Node {
public:
  explicit NamedNode(const std::string& name) : Node(name) {}
  ObjectRef getOutput(int, int) override { return nilObject; }
};

// Counts destructions, to check that deleting a chain frees all of it.
class CountedException : public GeneralException {
public:
  explicit CountedException(int* deleted) : GeneralException("counted", "f", 1), deleted(deleted) {}
  ~CountedException() override { ++*deleted; }

private:
  int* deleted;
};

}  // namespace

TEST(Exceptions, PrintedForms) {
  GeneralException general("Missing thing", "src/a.cc", 12);
  EXPECT_EQ(printed(general), "src/a.cc:12: Missing thing\n");
  EXPECT_EQ(general.message(), "Missing thing");

  NamedNode node("tracker");
  NodeException nodeError(&node, "bad frame", "src/b.cc", 7);
  EXPECT_EQ(printed(nodeError), "src/b.cc:7: node tracker: bad frame\n");
  EXPECT_EQ(nodeError.getNodeName(), "tracker");

  CastException cast("Int", "Float");
  EXPECT_EQ(printed(cast), "Cast error: Trying to cast ObjectRef (Int) into Float\n");
  EXPECT_EQ(cast.message(), "Cast error: Trying to cast ObjectRef (Int) into Float");
}

TEST(Exceptions, AddChainsAndReturnsTheExceptionToRethrow) {
  NamedNode node("n1");
  BaseException* rethrown = nullptr;
  try {
    try {
      throw new CastException("Int", "Float");
    } catch (BaseException* e) {
      throw e->add(new NodeException(&node, "Exception caught in getOutput", "x.cc", 3));
    }
  } catch (BaseException* e) {
    rethrown = e;
  }
  ASSERT_NE(rethrown, nullptr);
  std::unique_ptr<BaseException> owned(rethrown);
  EXPECT_NE(dynamic_cast<CastException*>(rethrown), nullptr);
  ASSERT_NE(rethrown->next(), nullptr);
  EXPECT_EQ(rethrown->next()->next(), nullptr);

  // Adding again appends at the end of the chain.
  EXPECT_EQ(rethrown->add(new GeneralException("outer", "y.cc", 9)), rethrown);
  EXPECT_EQ(printed(*rethrown),
            "Cast error: Trying to cast ObjectRef (Int) into Float\n"
            "x.cc:3: node n1: Exception caught in getOutput\n"
            "y.cc:9: outer\n");
}

TEST(Exceptions, AddingNothingOrItselfKeepsTheChain) {
  GeneralException e("only", "z.cc", 1);
  EXPECT_EQ(e.add(nullptr), &e);
  EXPECT_EQ(e.add(&e), &e);
  EXPECT_EQ(e.next(), nullptr);
}

TEST(Exceptions, DeletingTheFirstFreesTheWholeChain) {
  int deleted = 0;
  BaseException* chain = new CountedException(&deleted);
  for (int i = 0; i < 3; ++i) chain->add(new CountedException(&deleted));
  delete chain;
  EXPECT_EQ(deleted, 4);
}

TEST(Exceptions, NodeExceptionOutlivesItsNode) {
  auto* node = new NamedNode("gone");
  NodeException e(node, "late", "w.cc", 2);
  node->unref();
  EXPECT_EQ(printed(e), "w.cc:2: node gone: late\n");
}
