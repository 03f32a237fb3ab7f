#include "tesk/ParameterSet.h"

#include "tesk/Exception.h"

#include <utility>

namespace TESK {

void ParameterSet::add(const std::string& name, ObjectRef value) { values[name] = std::move(value); }

bool ParameterSet::exist(const std::string& name) const { return values.count(name) != 0; }

ObjectRef ParameterSet::get(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) throw new GeneralException("Missing parameter: " + name, __FILE__, __LINE__);
  return it->second;
}

}  // namespace TESK
