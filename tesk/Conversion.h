// Conversions between object types, used when a typed RCPtr is built from
// an object of another type. The table starts empty: a program adds the
// conversions it wants with ConversionDispatch::add.
#ifndef TESK_CONVERSION_H
#define TESK_CONVERSION_H

#include "tesk/Object.h"

#include <typeinfo>

namespace TESK {

class ConversionDispatch {
public:
  using Function = ObjectRef (*)(const ObjectRef& from);

  // Registers (or replaces) the conversion from one type to another.
  // Returns 0.
  static int add(const std::type_info& from, const std::type_info& to, Function f);
  // Runs the conversion registered for (from, to) on `obj`; raises a
  // CastException naming both types when there is none.
  static ObjectRef call(const std::type_info& from, const std::type_info& to,
                        const ObjectRef& obj);
};

class Conversion {
public:
  // nil gives nilObject; anything else goes to ConversionDispatch::call
  // with the object's own type and T.
  template <class T>
  static ObjectRef convertTo(const ObjectRef& obj) {
    return convertTo(obj, typeid(T));
  }
  static ObjectRef convertTo(const ObjectRef& obj, const std::type_info& to);
};

}  // namespace TESK

#endif
