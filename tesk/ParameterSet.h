// The named parameters a node is built with.
#ifndef TESK_PARAMETERSET_H
#define TESK_PARAMETERSET_H

#include "tesk/Object.h"

#include <map>
#include <string>

namespace TESK {

class ParameterSet {
public:
  using Map = std::map<std::string, ObjectRef>;

  // Adds the parameter, or replaces its value.
  void add(const std::string& name, ObjectRef value);
  bool exist(const std::string& name) const;
  // The value of the parameter; raises a GeneralException
  // "Missing parameter: NAME" when there is none.
  ObjectRef get(const std::string& name) const;

  std::size_t size() const { return values.size(); }
  Map::const_iterator begin() const { return values.begin(); }
  Map::const_iterator end() const { return values.end(); }

private:
  Map values;
};

}  // namespace TESK

#endif
