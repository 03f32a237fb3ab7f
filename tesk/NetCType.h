// Boxed scalars, and dereference_cast to read one out of an ObjectRef.
//
// Class names: NetCType<float> is "Float", NetCType<int> is "Int",
// NetCType<bool> is "Bool". Text forms, for a float 0.5:
//   printOn:   "<Float 0.5 >"
//   serialize: "{Float |0.5 }"
// Bools are written "true" / "false". serialize() writes floats with enough
// digits to read back the same value; printOn() uses the stream's format.
#ifndef TESK_NETCTYPE_H
#define TESK_NETCTYPE_H

#include "tesk/Exception.h"
#include "tesk/Object.h"

#include <typeinfo>

namespace TESK {

// Instantiated in the library for float, int and bool.
template <class T>
class NetCType : public Object {
public:
  explicit NetCType(T v = T()) : value(v) {}

  // A new boxed value, to be adopted by an ObjectRef.
  static NetCType<T>* alloc(T v) { return new NetCType<T>(v); }

  T& val() { return value; }
  const T& val() const { return value; }

  // "Float", "Int" or "Bool".
  static std::string typeName();
  std::string className() const override { return typeName(); }

  void printOn(std::ostream& out) const override;
  void readFrom(std::istream& in) override;
  void serialize(std::ostream& out) const override;
  void unserialize(std::istream& in) override;
  ObjectRef clone() const override { return ObjectRef(new NetCType<T>(value)); }

private:
  T value;
};

template <> std::string NetCType<float>::typeName();
template <> std::string NetCType<int>::typeName();
template <> std::string NetCType<bool>::typeName();
extern template class NetCType<float>;
extern template class NetCType<int>;
extern template class NetCType<bool>;

// The shared boxed booleans.
extern const ObjectRef TrueObject;
extern const ObjectRef FalseObject;

// The value inside `ref` by reference, when the object is exactly a
// NetCType<T>. Anything else, nil included, raises a CastException: there
// is no conversion between float, int and bool.
template <class T>
T& dereference_cast(const ObjectRef& ref) {
  Object* obj = ref.get();
  if (obj == nullptr || typeid(*obj) != typeid(NetCType<T>)) {
    throw new CastException(obj == nullptr ? std::string("nil") : obj->className(),
                            NetCType<T>::typeName());
  }
  return static_cast<NetCType<T>*>(obj)->val();
}

}  // namespace TESK

#endif
