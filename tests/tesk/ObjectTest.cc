// Reference counting, typed references and their conversions, and
// dereference_cast.
#include "tesk/tesk.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

using namespace TESK;

namespace {

// Counts its own destructions.
class Tracked : public Object {
public:
  explicit Tracked(int* destroyed) : destroyed(destroyed) {}
  ~Tracked() override { ++*destroyed; }

private:
  int* destroyed;
};

class OtherTracked : public Object {};

std::string printed(const BaseException* e) {
  std::ostringstream out;
  e->print(out);
  return out.str();
}

// Runs `f`, expecting a BaseException of type E; returns its printed text.
template <class E, class F>
std::string raisedText(F f) {
  try {
    f();
  } catch (BaseException* e) {
    std::unique_ptr<BaseException> owned(e);
    EXPECT_NE(dynamic_cast<E*>(e), nullptr) << printed(e);
    return printed(e);
  }
  ADD_FAILURE() << "nothing raised";
  return "";
}

}  // namespace

TEST(ReferenceCounting, NewObjectStartsAtOneAndAdoptionKeepsIt) {
  int destroyed = 0;
  Tracked* raw = new Tracked(&destroyed);
  EXPECT_EQ(raw->refCount(), 1);
  {
    ObjectRef ref(raw);
    EXPECT_EQ(raw->refCount(), 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(ReferenceCounting, CopiesShareAndTheLastOneDestroys) {
  int destroyed = 0;
  ObjectRef first(new Tracked(&destroyed));
  {
    ObjectRef second(first);
    ObjectRef third = second;
    EXPECT_EQ(first->refCount(), 3);
    EXPECT_EQ(second.get(), first.get());
  }
  EXPECT_EQ(first->refCount(), 1);
  EXPECT_EQ(destroyed, 0);
  first = nilObject;
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(first.isNil());
}

TEST(ReferenceCounting, AssignmentReleasesTheOldAndSharesTheNew) {
  int destroyedA = 0, destroyedB = 0;
  ObjectRef a(new Tracked(&destroyedA));
  ObjectRef b(new Tracked(&destroyedB));
  ObjectRef c = b;
  a = b;
  EXPECT_EQ(destroyedA, 1);
  EXPECT_EQ(destroyedB, 0);
  EXPECT_EQ(b->refCount(), 3);
}

TEST(ReferenceCounting, SelfAssignmentChangesNothing) {
  int destroyed = 0;
  ObjectRef a(new Tracked(&destroyed));
  ObjectRef& alias = a;
  a = alias;
  EXPECT_EQ(a->refCount(), 1);
  ObjectRef same = a;
  a = same;  // another reference to the same object
  EXPECT_EQ(a->refCount(), 2);
  EXPECT_EQ(destroyed, 0);
}

TEST(ReferenceCounting, RawAssignmentAdoptsAndMovesDoNotCount) {
  int destroyedA = 0, destroyedB = 0;
  ObjectRef a(new Tracked(&destroyedA));
  a = new Tracked(&destroyedB);
  EXPECT_EQ(destroyedA, 1);
  EXPECT_EQ(a->refCount(), 1);
  ObjectRef moved(std::move(a));
  EXPECT_TRUE(a.isNil());
  EXPECT_EQ(moved->refCount(), 1);
  ObjectRef target;
  target = std::move(moved);
  EXPECT_EQ(target->refCount(), 1);
  EXPECT_EQ(destroyedB, 0);
}

TEST(ReferenceCounting, ManualRefAndUnref) {
  int destroyed = 0;
  Tracked* raw = new Tracked(&destroyed);
  raw->ref();
  raw->unref();
  EXPECT_EQ(destroyed, 0);
  raw->unref();
  EXPECT_EQ(destroyed, 1);
}

TEST(ReferenceCounting, CopiedObjectStartsWithItsOwnCount) {
  ObjectRef v(Vector<float>::alloc(2));
  ObjectRef extra = v;
  ObjectRef copy = v->clone();
  EXPECT_EQ(copy->refCount(), 1);
  EXPECT_NE(copy.get(), v.get());
}

TEST(TypedReference, SharesAPointeeOfTheTargetType) {
  ObjectRef obj(Matrix<float>::alloc(2, 3));
  RCPtr<Matrix<float> > matrix = obj;
  EXPECT_EQ(static_cast<Object*>(matrix.get()), obj.get());
  EXPECT_EQ(obj->refCount(), 2);
  EXPECT_EQ(matrix->ncols(), 3);
  ObjectRef back = matrix;  // upcast shares too
  EXPECT_EQ(obj->refCount(), 3);
}

TEST(TypedReference, ObjectOfAnotherTypeWithoutConversionIsACastError) {
  ObjectRef obj(NetCType<int>::alloc(3));
  std::string text = raisedText<CastException>([&] { RCPtr<Matrix<float> > m = obj; });
  EXPECT_EQ(text, "Cast error: Trying to cast ObjectRef (Int) into Matrix<float>\n");
  EXPECT_EQ(obj->refCount(), 1);
}

TEST(TypedReference, NilIsNotOfTheTargetType) {
  std::string text = raisedText<GeneralException>([] { RCPtr<Vector<float> > v = nilObject; });
  EXPECT_NE(text.find("Something is wrong in RCPtr::operator=, this should not happen."),
            std::string::npos);
}

namespace {

struct Marker : Object {};
ObjectRef intToVector(const ObjectRef& from) {
  Vector<float>* v = Vector<float>::alloc(1);
  (*v)[0] = static_cast<float>(dereference_cast<int>(from));
  return ObjectRef(v);
}
ObjectRef markerToWrongType(const ObjectRef&) { return ObjectRef(NetCType<bool>::alloc(true)); }

}  // namespace

TEST(TypedReference, RegisteredConversionIsUsed) {
  ConversionDispatch::add(typeid(NetCType<int>), typeid(Vector<float>), intToVector);
  ObjectRef obj(NetCType<int>::alloc(7));
  RCPtr<Vector<float> > v = obj;
  ASSERT_EQ(v->size(), 1u);
  EXPECT_EQ((*v)[0], 7.0f);
  EXPECT_EQ(v->refCount(), 1);  // a new object, not the int
  EXPECT_EQ(obj->refCount(), 1);

  // Assignment takes the same road and releases what it held.
  RCPtr<Vector<float> > w(Vector<float>::alloc(0));
  w = obj;
  EXPECT_EQ(w->size(), 1u);
}

TEST(TypedReference, ConversionGivingAnotherTypeIsReported) {
  ConversionDispatch::add(typeid(Marker), typeid(Matrix<float>), markerToWrongType);
  ObjectRef obj(new Marker);
  std::string text = raisedText<GeneralException>([&] { RCPtr<Matrix<float> > m = obj; });
  EXPECT_NE(text.find(": Something is wrong in RCPtr::operator=, this should not happen.\n"),
            std::string::npos)
      << text;
}

TEST(TypedReference, ConvertToGivesNilForNil) {
  EXPECT_TRUE(Conversion::convertTo<Matrix<float> >(nilObject).isNil());
}

TEST(DereferenceCast, ReadsEachScalarTypeByReference) {
  ObjectRef f(NetCType<float>::alloc(0.25f));
  ObjectRef i(NetCType<int>::alloc(-4));
  EXPECT_EQ(dereference_cast<float>(f), 0.25f);
  EXPECT_EQ(dereference_cast<int>(i), -4);
  EXPECT_TRUE(dereference_cast<bool>(TrueObject));
  EXPECT_FALSE(dereference_cast<bool>(FalseObject));
  dereference_cast<int>(i) = 9;
  EXPECT_EQ(dereference_cast<int>(i), 9);
}

TEST(DereferenceCast, NoConversionBetweenScalarTypes) {
  ObjectRef f(NetCType<float>::alloc(1.0f));
  ObjectRef i(NetCType<int>::alloc(1));
  EXPECT_EQ(raisedText<CastException>([&] { dereference_cast<float>(i); }),
            "Cast error: Trying to cast ObjectRef (Int) into Float\n");
  EXPECT_EQ(raisedText<CastException>([&] { dereference_cast<int>(f); }),
            "Cast error: Trying to cast ObjectRef (Float) into Int\n");
  EXPECT_EQ(raisedText<CastException>([&] { dereference_cast<bool>(i); }),
            "Cast error: Trying to cast ObjectRef (Int) into Bool\n");
  EXPECT_EQ(raisedText<CastException>([&] { dereference_cast<int>(TrueObject); }),
            "Cast error: Trying to cast ObjectRef (Bool) into Int\n");
  EXPECT_EQ(raisedText<CastException>([&] { dereference_cast<float>(nilObject); }),
            "Cast error: Trying to cast ObjectRef (nil) into Float\n");
  ObjectRef v(Vector<float>::alloc(1));
  EXPECT_EQ(raisedText<CastException>([&] { dereference_cast<float>(v); }),
            "Cast error: Trying to cast ObjectRef (Vector<float>) into Float\n");
}

TEST(DereferenceCast, SubclassOfTheBoxIsNotExact) {
  struct SpecialFloat : NetCType<float> {};
  ObjectRef special(new SpecialFloat);
  raisedText<CastException>([&] { dereference_cast<float>(special); });
}

TEST(ObjectDefaults, ReadAndCloneRaise) {
  ObjectRef marker(new Marker);
  std::istringstream in("1 >");
  EXPECT_NE(raisedText<GeneralException>([&] { marker->readFrom(in); })
                .find(": Trying to read undefined Object\n"),
            std::string::npos);
  EXPECT_NE(raisedText<GeneralException>([&] { marker->clone(); })
                .find("Method clone() not implemented for this object : (anonymous namespace)::Marker"),
            std::string::npos);
}

TEST(ObjectDefaults, ClassNamesOfTheValueTypes) {
  EXPECT_EQ(NetCType<float>().className(), "Float");
  EXPECT_EQ(NetCType<int>().className(), "Int");
  EXPECT_EQ(NetCType<bool>().className(), "Bool");
  EXPECT_EQ(Vector<float>().className(), "Vector<float>");
  EXPECT_EQ(Matrix<float>().className(), "Matrix<float>");
  EXPECT_EQ(Matrix<std::complex<float> >().className(), "Matrix<std::complex<float> >");
  EXPECT_EQ(OtherTracked().className(), "(anonymous namespace)::OtherTracked");
}

TEST(ModuleVersion, RecordsAndReplaces) {
  EXPECT_EQ(Object::setModuleVersion("TESTMODULE", "1", "0.1"), 0);
  Object::setModuleVersion("TESTMODULE", "2", "0.2");
  std::optional<ModuleVersion> version = Object::getModuleVersion("TESTMODULE");
  ASSERT_TRUE(version.has_value());
  EXPECT_EQ(version->revision, "2");
  EXPECT_EQ(version->version, "0.2");
  EXPECT_FALSE(Object::getModuleVersion("NO-SUCH-MODULE").has_value());
}

TEST(Values, MatrixIsRowMajorAndResizeKeepsTheOverlap) {
  Matrix<float> m(2, 3);
  EXPECT_EQ(m.nrows(), 2);
  EXPECT_EQ(m(1, 2), 0.0f);
  m(1, 0) = 5.0f;
  m(0, 2) = 7.0f;
  EXPECT_EQ(m.data()[3], 5.0f);
  EXPECT_EQ(m.data()[2], 7.0f);
  m.resize(3, 2);
  EXPECT_EQ(m.ncols(), 2);
  EXPECT_EQ(m(1, 0), 5.0f);
  EXPECT_EQ(m(0, 1), 0.0f);
  EXPECT_EQ(m(2, 1), 0.0f);
  Matrix<float> empty(-1, 4);
  EXPECT_EQ(empty.nrows(), 0);
}

TEST(Values, VectorAllocGivesZeros) {
  RCPtr<Vector<float> > v(Vector<float>::alloc(3));
  ASSERT_EQ(v->size(), 3u);
  EXPECT_EQ((*v)[2], 0.0f);
  v->resize(5);
  EXPECT_EQ(v->size(), 5u);
}
