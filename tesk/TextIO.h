// Token reading shared by the text formats of the value classes.
// Internal to the library: not installed.
#ifndef TESK_TEXTIO_H
#define TESK_TEXTIO_H

#include <istream>
#include <string>

namespace TESK {
namespace textio {

// Skips white space and consumes `expected`; false (nothing consumed but
// the white space) when the next character is another one.
bool expect(std::istream& in, char expected);
// Skips white space and reads a value token: the characters up to the next
// white space or one of the closing characters '>' and '}'.
std::string token(std::istream& in);
// Parses a whole token; false when it is not entirely a value.
bool parse(const std::string& text, float& value);
bool parse(const std::string& text, int& value);
bool parse(const std::string& text, bool& value);

}  // namespace textio
}  // namespace TESK

#endif
