// A vector of values that can travel as an Object.
//
// Vector<float> has the class name "Vector<float>". Its text form is
// "<Vector<float>", then " " and the value for each element, then " > ":
// three elements 1, 2.5, 3 print as "<Vector<float> 1 2.5 3 > ".
#ifndef TESK_VECTOR_H
#define TESK_VECTOR_H

#include "tesk/Object.h"

#include <cstddef>
#include <vector>

namespace TESK {

// Instantiated in the library for float.
template <class T>
class Vector : public Object, public std::vector<T> {
public:
  Vector() = default;
  explicit Vector(std::size_t n, T v = T()) : std::vector<T>(n, v) {}

  // A new vector of n zeros, to be adopted by an ObjectRef.
  static Vector<T>* alloc(std::size_t n) { return new Vector<T>(n); }

  static std::string typeName();
  std::string className() const override { return typeName(); }

  void printOn(std::ostream& out) const override;
  // Reads the elements and the closing ">"; raises "Error reading Vector"
  // on anything else.
  void readFrom(std::istream& in) override;
  ObjectRef clone() const override { return ObjectRef(new Vector<T>(*this)); }
};

template <> std::string Vector<float>::typeName();
extern template class Vector<float>;

}  // namespace TESK

#endif
