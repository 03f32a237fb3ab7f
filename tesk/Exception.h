// Host exceptions. They are thrown as heap pointers and caught as
// BaseException*. A handler that adds context appends a new exception to
// the caught one with add() and rethrows what add() returns; printing the
// rethrown pointer shows the whole chain, oldest first. Deleting it frees
// the whole chain.
#ifndef TESK_EXCEPTION_H
#define TESK_EXCEPTION_H

#include <iosfwd>
#include <string>

namespace TESK {

class Node;

class BaseException {
public:
  BaseException() = default;
  BaseException(const BaseException&) = delete;
  BaseException& operator=(const BaseException&) = delete;
  // Frees the exceptions chained after this one as well.
  virtual ~BaseException();

  // Prints this exception and every exception chained after it.
  virtual void print(std::ostream& out) const;
  // Appends `e` (taking ownership) to the end of this chain and returns
  // the exception to rethrow, which is this one.
  virtual BaseException* add(BaseException* e);
  // This exception's own text on one line, without file and line.
  virtual std::string message() const;

  // The exception appended after this one, or null.
  const BaseException* next() const { return chained; }

protected:
  // Prints this exception alone, ending with a line end.
  virtual void printSelf(std::ostream& out) const = 0;

private:
  BaseException* chained = nullptr;
};

// A failure with a message and the source position that raised it.
// Printed as "file:line: message".
class GeneralException : public BaseException {
public:
  GeneralException(std::string message, std::string file, int line);

  std::string message() const override { return text; }
  const std::string& getFile() const { return file; }
  int getLine() const { return line; }

protected:
  void printSelf(std::ostream& out) const override;

private:
  std::string text;
  std::string file;
  int line;
};

// A failure inside a node. The node's name is copied, so the exception
// stays printable after the node is gone. Printed as
// "file:line: node NAME: message".
class NodeException : public BaseException {
public:
  NodeException(const Node* node, std::string message, std::string file, int line);

  std::string message() const override { return text; }
  const std::string& getNodeName() const { return nodeName; }
  const std::string& getFile() const { return file; }
  int getLine() const { return line; }

protected:
  void printSelf(std::ostream& out) const override;

private:
  std::string nodeName;
  std::string text;
  std::string file;
  int line;
};

// An object of one type was asked for as another. Printed as
// "Cast error: Trying to cast ObjectRef (FROM) into TO".
class CastException : public BaseException {
public:
  CastException(std::string fromType, std::string toType);

  std::string message() const override;
  const std::string& getFromType() const { return fromType; }
  const std::string& getToType() const { return toType; }

protected:
  void printSelf(std::ostream& out) const override;

private:
  std::string fromType;
  std::string toType;
};

}  // namespace TESK

#endif
