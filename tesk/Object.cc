#include "tesk/Object.h"

#include "tesk/Conversion.h"
#include "tesk/Exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>

namespace TESK {

const ObjectRef nilObject;

void Object::destroy() { delete this; }

void Object::serialize(std::ostream&) const {
  throw new GeneralException("Method serialize() not implemented for this object : " + className(),
                             __FILE__, __LINE__);
}

void Object::unserialize(std::istream&) {
  throw new GeneralException(
      "Method unserialize() not implemented for this object : " + className(), __FILE__, __LINE__);
}

void Object::doesNotUnderstand(const std::string& method) const {
  throw new GeneralException(className() + " does not understand method " + method, __FILE__,
                             __LINE__);
}

void Object::printOn(std::ostream& out) const { out << "<" << className() << " >"; }

void Object::prettyPrint(std::ostream& out) const { printOn(out); }

void Object::readFrom(std::istream&) {
  throw new GeneralException("Trying to read undefined Object", __FILE__, __LINE__);
}

ObjectRef Object::clone() const {
  throw new GeneralException("Method clone() not implemented for this object : " + className(),
                             __FILE__, __LINE__);
}

std::string Object::className() const { return typeName(typeid(*this)); }

namespace {

struct ModuleRegistry {
  std::mutex mutex;
  std::map<std::string, ModuleVersion> modules;
};

// Never destroyed: plug-ins may record versions from their static
// initialisers and programs may read them until the very end.
ModuleRegistry& moduleRegistry() {
  static ModuleRegistry* registry = new ModuleRegistry;
  return *registry;
}

}  // namespace

int Object::setModuleVersion(const std::string& module, const std::string& revision,
                             const std::string& version) {
  ModuleRegistry& registry = moduleRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.modules[module] = ModuleVersion{module, revision, version};
  return 0;
}

std::optional<ModuleVersion> Object::getModuleVersion(const std::string& module) {
  ModuleRegistry& registry = moduleRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.modules.find(module);
  if (it == registry.modules.end()) return std::nullopt;
  return it->second;
}

std::vector<ModuleVersion> Object::getModuleVersions() {
  ModuleRegistry& registry = moduleRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  std::vector<ModuleVersion> all;
  for (const auto& entry : registry.modules) all.push_back(entry.second);
  return all;
}

std::ostream& operator<<(std::ostream& out, const Object& obj) {
  obj.printOn(out);
  return out;
}

std::ostream& operator<<(std::ostream& out, const ObjectRef& ref) {
  if (ref.isNil()) return out << "nil";
  return out << *ref;
}

std::string typeName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
  const std::string prefix = "TESK::";
  for (std::size_t at = name.find(prefix); at != std::string::npos; at = name.find(prefix, at))
    name.erase(at, prefix.size());
  return name;
}

namespace detail {

ObjectRef convertForRCPtr(const ObjectRef& from, const std::type_info& to) {
  return Conversion::convertTo(from, to);
}

void rcptrConversionFailed(const char* file, int line) {
  throw new GeneralException("Something is wrong in RCPtr::operator=, this should not happen.", file,
                             line);
}

}  // namespace detail

}  // namespace TESK
