// Reference-counted objects and the smart pointer that holds them.
//
// Every value that travels between nodes is an Object. Its count starts at
// 1 and belongs to whoever created it; an RCPtr built from the raw pointer
// adopts that count. Copies of an RCPtr share the object, and the last one
// to go destroys it.
#ifndef TESK_OBJECT_H
#define TESK_OBJECT_H

#include <atomic>
#include <iosfwd>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace TESK {

class AtomicCounter {
public:
  explicit AtomicCounter(int initial = 1) : count(initial) {}
  AtomicCounter(const AtomicCounter&) = delete;
  AtomicCounter& operator=(const AtomicCounter&) = delete;

  void inc() { count.fetch_add(1, std::memory_order_relaxed); }
  // Returns false when the count reaches zero.
  bool dec() { return count.fetch_sub(1, std::memory_order_acq_rel) != 1; }
  int get() const { return count.load(std::memory_order_acquire); }

private:
  std::atomic<int> count;
};

template <class T> class RCPtr;
class Object;
using ObjectRef = RCPtr<Object>;

// One module's version record, as a loaded library states it.
struct ModuleVersion {
  std::string module;
  std::string revision;
  std::string version;
};

class Object {
public:
  Object() = default;
  // A copy is a new object: it starts with its own count of 1.
  Object(const Object&) : counter(1) {}
  Object& operator=(const Object&) { return *this; }
  virtual ~Object() = default;

  void ref() { counter.inc(); }
  void unref() {
    if (!counter.dec()) destroy();
  }
  int refCount() const { return counter.get(); }

  // Called when the count reaches zero; deletes the object.
  virtual void destroy();
  // Machine-readable form: "{ClassName |...}". The default raises.
  virtual void serialize(std::ostream& out) const;
  // Reads what serialize() writes after "{ClassName". The default raises.
  virtual void unserialize(std::istream& in);
  // Raises a GeneralException naming the class and the method.
  virtual void doesNotUnderstand(const std::string& method) const;
  // Human-readable form: "<ClassName ...>".
  virtual void printOn(std::ostream& out) const;
  virtual bool isNil() const { return false; }
  // Defaults to printOn().
  virtual void prettyPrint(std::ostream& out) const;
  // Reads what printOn() writes after "<ClassName". The default raises
  // "Trying to read undefined Object".
  virtual void readFrom(std::istream& in);
  // A new, independent copy. The default raises.
  virtual ObjectRef clone() const;
  // Name used in the text formats and in error messages. The default is
  // the C++ type name without the namespace.
  virtual std::string className() const;

  // Records the version of a loaded module (a later record of the same
  // module replaces the earlier one). Returns 0.
  static int setModuleVersion(const std::string& module, const std::string& revision,
                              const std::string& version);
  static std::optional<ModuleVersion> getModuleVersion(const std::string& module);
  static std::vector<ModuleVersion> getModuleVersions();

private:
  AtomicCounter counter;
};

std::ostream& operator<<(std::ostream& out, const Object& obj);

// Readable name of a C++ type, without the namespace: "Matrix<float>".
std::string typeName(const std::type_info& type);

namespace detail {
// Out-of-line helpers of RCPtr's converting assignment.
ObjectRef convertForRCPtr(const ObjectRef& from, const std::type_info& to);
[[noreturn]] void rcptrConversionFailed(const char* file, int line);
}  // namespace detail

template <class T>
class RCPtr {
public:
  using element_type = T;

  constexpr RCPtr() noexcept : ptr(nullptr) {}
  // Adopts the count of a new object: no ref().
  RCPtr(T* p) noexcept : ptr(p) {}
  RCPtr(const RCPtr& other) noexcept : ptr(other.ptr) {
    if (ptr) ptr->ref();
  }
  RCPtr(RCPtr&& other) noexcept : ptr(other.ptr) { other.ptr = nullptr; }
  // From a pointer to another type: shared when the pointee is a T,
  // otherwise converted (see assign()).
  template <class Z>
  RCPtr(const RCPtr<Z>& other) : ptr(nullptr) {
    assign(other);
  }
  ~RCPtr() {
    if (ptr) ptr->unref();
  }

  RCPtr& operator=(const RCPtr& other) noexcept {
    if (ptr != other.ptr) {
      T* old = ptr;
      ptr = other.ptr;
      if (ptr) ptr->ref();
      if (old) old->unref();
    }
    return *this;
  }
  RCPtr& operator=(RCPtr&& other) noexcept {
    if (this != &other) {
      T* old = ptr;
      ptr = other.ptr;
      other.ptr = nullptr;
      if (old) old->unref();
    }
    return *this;
  }
  // Adopts the count of `p`, releases the old object.
  RCPtr& operator=(T* p) noexcept {
    T* old = ptr;
    ptr = p;
    if (old) old->unref();
    return *this;
  }
  template <class Z>
  RCPtr& operator=(const RCPtr<Z>& other) {
    if (static_cast<const void*>(other.get()) != static_cast<const void*>(ptr)) {
      RCPtr<T> fresh(other);
      *this = std::move(fresh);
    }
    return *this;
  }

  T* get() const noexcept { return ptr; }
  T* operator->() const noexcept { return ptr; }
  T& operator*() const noexcept { return *ptr; }
  bool isNil() const noexcept { return ptr == nullptr; }
  explicit operator bool() const noexcept { return ptr != nullptr; }

  // Gives up the pointer and its count to the caller.
  T* detach() noexcept {
    T* p = ptr;
    ptr = nullptr;
    return p;
  }

private:
  template <class Z>
  void assign(const RCPtr<Z>& other) {
    if constexpr (std::is_convertible_v<Z*, T*>) {
      ptr = other.get();
      if (ptr) ptr->ref();
    } else {
      if (T* same = dynamic_cast<T*>(other.get())) {
        ptr = same;
        ptr->ref();
        return;
      }
      ObjectRef converted = detail::convertForRCPtr(ObjectRef(other), typeid(T));
      T* result = dynamic_cast<T*>(converted.get());
      if (!result) detail::rcptrConversionFailed(__FILE__, __LINE__);
      ptr = result;
      ptr->ref();
    }
  }

  T* ptr;
};

template <class T, class Z>
bool operator==(const RCPtr<T>& a, const RCPtr<Z>& b) {
  return static_cast<const void*>(a.get()) == static_cast<const void*>(b.get());
}
template <class T, class Z>
bool operator!=(const RCPtr<T>& a, const RCPtr<Z>& b) {
  return !(a == b);
}

// Prints the object, or "nil".
std::ostream& operator<<(std::ostream& out, const ObjectRef& ref);

// The empty reference.
extern const ObjectRef nilObject;

}  // namespace TESK

#endif
