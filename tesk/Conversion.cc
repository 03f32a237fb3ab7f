#include "tesk/Conversion.h"

#include "tesk/Exception.h"

#include <map>
#include <mutex>
#include <typeindex>
#include <utility>

namespace TESK {

namespace {

struct ConversionTable {
  std::mutex mutex;
  std::map<std::pair<std::type_index, std::type_index>, ConversionDispatch::Function> functions;
};

ConversionTable& table() {
  static ConversionTable* conversions = new ConversionTable;
  return *conversions;
}

}  // namespace

int ConversionDispatch::add(const std::type_info& from, const std::type_info& to, Function f) {
  ConversionTable& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.functions[{std::type_index(from), std::type_index(to)}] = f;
  return 0;
}

ObjectRef ConversionDispatch::call(const std::type_info& from, const std::type_info& to,
                                   const ObjectRef& obj) {
  Function f = nullptr;
  {
    ConversionTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.functions.find({std::type_index(from), std::type_index(to)});
    if (it != t.functions.end()) f = it->second;
  }
  if (f == nullptr) {
    std::string fromName = obj.isNil() ? std::string("nil") : obj->className();
    throw new CastException(fromName, typeName(to));
  }
  return f(obj);
}

ObjectRef Conversion::convertTo(const ObjectRef& obj, const std::type_info& to) {
  if (obj.isNil()) return nilObject;
  Object& o = *obj;
  return ConversionDispatch::call(typeid(o), to, obj);
}

}  // namespace TESK
