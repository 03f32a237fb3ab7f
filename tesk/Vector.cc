#include "tesk/Vector.h"

#include "tesk/Exception.h"
#include "tesk/TextIO.h"

#include <ostream>

namespace TESK {

template <> std::string Vector<float>::typeName() { return "Vector<float>"; }

template <class T>
void Vector<T>::printOn(std::ostream& out) const {
  out << "<" << className();
  for (const T& v : *this) out << " " << v;
  out << " > ";
}

template <class T>
void Vector<T>::readFrom(std::istream& in) {
  std::vector<T> values;
  while (!textio::expect(in, '>')) {
    T v{};
    if (!textio::parse(textio::token(in), v))
      throw new GeneralException("Error reading Vector", __FILE__, __LINE__);
    values.push_back(v);
  }
  static_cast<std::vector<T>&>(*this) = std::move(values);
}

template class Vector<float>;

}  // namespace TESK
