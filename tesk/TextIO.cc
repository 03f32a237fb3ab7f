#include "tesk/TextIO.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace TESK {
namespace textio {

bool expect(std::istream& in, char expected) {
  in >> std::ws;
  if (in.peek() != std::char_traits<char>::to_int_type(expected)) return false;
  in.get();
  return true;
}

std::string token(std::istream& in) {
  std::string text;
  in >> std::ws;
  for (int c = in.peek(); c != std::char_traits<char>::eof(); c = in.peek()) {
    if (std::isspace(c) || c == '>' || c == '}') break;
    text.push_back(static_cast<char>(in.get()));
  }
  return text;
}

bool parse(const std::string& text, float& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  float v = std::strtof(text.c_str(), &end);
  // Overflow is refused; underflow to a denormal or zero is a value.
  if (*end != '\0' || (errno == ERANGE && (v == HUGE_VALF || v == -HUGE_VALF))) return false;
  value = v;
  return true;
}

bool parse(const std::string& text, int& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

bool parse(const std::string& text, bool& value) {
  if (text == "true" || text == "1") {
    value = true;
  } else if (text == "false" || text == "0") {
    value = false;
  } else {
    return false;
  }
  return true;
}

}  // namespace textio
}  // namespace TESK
