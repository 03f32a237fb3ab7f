#include "tesk/Exception.h"

#include "tesk/Node.h"

#include <ostream>
#include <sstream>
#include <utility>

namespace TESK {

BaseException::~BaseException() {
  // Iterative, so that a long chain cannot exhaust the stack.
  BaseException* e = chained;
  while (e != nullptr) {
    BaseException* following = e->chained;
    e->chained = nullptr;
    delete e;
    e = following;
  }
}

void BaseException::print(std::ostream& out) const {
  for (const BaseException* e = this; e != nullptr; e = e->chained) e->printSelf(out);
}

BaseException* BaseException::add(BaseException* e) {
  if (e == nullptr || e == this) return this;
  BaseException* last = this;
  while (last->chained != nullptr) last = last->chained;
  last->chained = e;
  return this;
}

std::string BaseException::message() const {
  std::ostringstream text;
  printSelf(text);
  std::string s = text.str();
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

GeneralException::GeneralException(std::string message, std::string file, int line)
    : text(std::move(message)), file(std::move(file)), line(line) {}

void GeneralException::printSelf(std::ostream& out) const {
  out << file << ":" << line << ": " << text << "\n";
}

NodeException::NodeException(const Node* node, std::string message, std::string file, int line)
    : nodeName(node != nullptr ? node->getName() : std::string("(unknown)")),
      text(std::move(message)),
      file(std::move(file)),
      line(line) {}

void NodeException::printSelf(std::ostream& out) const {
  out << file << ":" << line << ": node " << nodeName << ": " << text << "\n";
}

CastException::CastException(std::string fromType, std::string toType)
    : fromType(std::move(fromType)), toType(std::move(toType)) {}

std::string CastException::message() const {
  return "Cast error: Trying to cast ObjectRef (" + fromType + ") into " + toType;
}

void CastException::printSelf(std::ostream& out) const { out << message() << "\n"; }

}  // namespace TESK
