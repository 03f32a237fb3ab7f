// How the nodes word a refused parameter or frame: "NODE: message", thrown
// as a host exception (a heap pointer, caught as BaseException*).
#ifndef NODE_MESSAGES_H
#define NODE_MESSAGES_H

#include <sstream>
#include <string>

#include "tesk/Exception.h"

namespace node_messages {

[[noreturn]] inline void fail(const char *node, const std::string &message, const char *file,
                              int line) {
  throw new TESK::GeneralException(std::string(node) + ": " + message, file, line);
}

// A value as the messages show it.
template <class T>
std::string str(const T &value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace node_messages

#endif
