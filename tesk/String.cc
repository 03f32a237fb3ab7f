#include "tesk/String.h"

#include "tesk/Exception.h"
#include "tesk/TextIO.h"

#include <ostream>

namespace TESK {

namespace {

[[noreturn]] void readError(char expected) {
  throw new GeneralException(std::string("Error reading String: '") + expected + "' expected",
                             __FILE__, __LINE__);
}

}  // namespace

void String::printOn(std::ostream& out) const { out << "<String " << value << " >"; }

void String::readFrom(std::istream& in) {
  std::string v = textio::token(in);
  if (v.empty() || !textio::expect(in, '>')) readError('>');
  value = v;
}

void String::serialize(std::ostream& out) const { out << "{String |" << value << " }"; }

void String::unserialize(std::istream& in) {
  if (!textio::expect(in, '|')) readError('|');
  std::string v = textio::token(in);
  if (v.empty() || !textio::expect(in, '}')) readError('}');
  value = v;
}

}  // namespace TESK
