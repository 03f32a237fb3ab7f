// A boxed word, for parameters that name a choice ("flux", "learned").
//
// Class name "String". Text forms, for "flux":
//   printOn:   "<String flux >"
//   serialize: "{String |flux }"
// The text is one token: no white space, '>' or '}' (a name, not prose).
#ifndef TESK_STRING_H
#define TESK_STRING_H

#include "tesk/Object.h"

#include <string>

namespace TESK {

class String : public Object {
public:
  explicit String(std::string v = std::string()) : value(std::move(v)) {}

  // A new boxed word, to be adopted by an ObjectRef.
  static String* alloc(const std::string& v) { return new String(v); }

  const std::string& val() const { return value; }

  std::string className() const override { return "String"; }
  void printOn(std::ostream& out) const override;
  void readFrom(std::istream& in) override;
  void serialize(std::ostream& out) const override;
  void unserialize(std::istream& in) override;
  ObjectRef clone() const override { return ObjectRef(new String(value)); }

private:
  std::string value;
};

}  // namespace TESK

#endif
