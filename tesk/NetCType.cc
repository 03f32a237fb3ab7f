#include "tesk/NetCType.h"

#include "tesk/TextIO.h"

#include <ios>
#include <limits>
#include <ostream>

namespace TESK {

template <> std::string NetCType<float>::typeName() { return "Float"; }
template <> std::string NetCType<int>::typeName() { return "Int"; }
template <> std::string NetCType<bool>::typeName() { return "Bool"; }

namespace {

template <class T>
void writeValue(std::ostream& out, const T& value) {
  out << value;
}

void writeValue(std::ostream& out, const bool& value) { out << (value ? "true" : "false"); }

[[noreturn]] void readError(char expected) {
  throw new GeneralException(std::string("Error reading String: '") + expected + "' expected",
                             __FILE__, __LINE__);
}

}  // namespace

template <class T>
void NetCType<T>::printOn(std::ostream& out) const {
  out << "<" << className() << " ";
  writeValue(out, value);
  out << " >";
}

template <class T>
void NetCType<T>::readFrom(std::istream& in) {
  T v{};
  if (!textio::parse(textio::token(in), v) || !textio::expect(in, '>')) readError('>');
  value = v;
}

template <class T>
void NetCType<T>::serialize(std::ostream& out) const {
  // Enough digits for a float to read back as the same value.
  std::streamsize precision = out.precision(std::numeric_limits<float>::max_digits10);
  out << "{" << className() << " |";
  writeValue(out, value);
  out << " }";
  out.precision(precision);
}

template <class T>
void NetCType<T>::unserialize(std::istream& in) {
  if (!textio::expect(in, '|')) readError('|');
  T v{};
  if (!textio::parse(textio::token(in), v) || !textio::expect(in, '}')) readError('}');
  value = v;
}

template class NetCType<float>;
template class NetCType<int>;
template class NetCType<bool>;

const ObjectRef TrueObject(new NetCType<bool>(true));
const ObjectRef FalseObject(new NetCType<bool>(false));

}  // namespace TESK
