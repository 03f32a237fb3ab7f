// Text forms of the value classes: round trips and malformed input.
#include "tesk/tesk.h"

#include <gtest/gtest.h>

#include "RaisedMessage.h"

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

using namespace TESK;

namespace {

// Reads "<ClassName" then hands the rest to readFrom().
template <class T>
void readPrinted(std::istream& in, T& obj) {
  std::string head;
  in >> head;
  ASSERT_EQ(head, "<" + obj.className());
  obj.readFrom(in);
}

template <class T>
void readSerialized(std::istream& in, T& obj) {
  std::string head;
  in >> head;
  ASSERT_EQ(head, "{" + obj.className());
  obj.unserialize(in);
}

std::string printedForm(const Object& obj) {
  std::ostringstream out;
  obj.printOn(out);
  return out.str();
}

std::string serializedForm(const Object& obj) {
  std::ostringstream out;
  obj.serialize(out);
  return out.str();
}

}  // namespace

TEST(ScalarText, PrintedForms) {
  EXPECT_EQ(printedForm(NetCType<float>(0.5f)), "<Float 0.5 >");
  EXPECT_EQ(printedForm(NetCType<int>(-12)), "<Int -12 >");
  EXPECT_EQ(printedForm(NetCType<bool>(true)), "<Bool true >");
  EXPECT_EQ(printedForm(String("flux")), "<String flux >");
  EXPECT_EQ(serializedForm(NetCType<float>(0.5f)), "{Float |0.5 }");
  EXPECT_EQ(serializedForm(NetCType<bool>(false)), "{Bool |false }");
  EXPECT_EQ(serializedForm(String("learned")), "{String |learned }");
  std::ostringstream nil;
  nil << nilObject << " " << TrueObject;
  EXPECT_EQ(nil.str(), "nil <Bool true >");
}

TEST(ScalarText, RoundTrips) {
  std::istringstream printed(printedForm(NetCType<int>(42)) + " " +
                             printedForm(NetCType<bool>(false)));
  NetCType<int> i(0);
  NetCType<bool> b(true);
  readPrinted(printed, i);
  readPrinted(printed, b);
  EXPECT_EQ(i.val(), 42);
  EXPECT_FALSE(b.val());

  std::istringstream words(printedForm(String("flux")) + serializedForm(String("learned")));
  String word;
  readPrinted(words, word);
  EXPECT_EQ(word.val(), "flux");
  readSerialized(words, word);
  EXPECT_EQ(word.val(), "learned");

  std::istringstream printedFloat(printedForm(NetCType<float>(-0.125f)));
  NetCType<float> pf;
  readPrinted(printedFloat, pf);
  EXPECT_EQ(pf.val(), -0.125f);

  // serialize keeps every bit of a float, printOn only what the stream shows.
  const float third = 1.0f / 3.0f;
  std::istringstream serialized(serializedForm(NetCType<float>(third)));
  NetCType<float> f;
  readSerialized(serialized, f);
  EXPECT_EQ(f.val(), third);

  std::istringstream inf(serializedForm(NetCType<float>(-std::numeric_limits<float>::infinity())));
  readSerialized(inf, f);
  EXPECT_TRUE(std::isinf(f.val()) && f.val() < 0);

  std::ostringstream out;
  out.precision(3);
  NetCType<float>(third).serialize(out);
  EXPECT_EQ(out.precision(), 3);  // the caller's format is restored
}

TEST(ScalarText, MalformedInputIsRefusedAndLeavesTheValue) {
  NetCType<float> f(2.0f);
  std::istringstream missingClose("0.5");
  EXPECT_EQ(raisedMessage([&] { f.readFrom(missingClose); }), "Error reading String: '>' expected");
  std::istringstream wrongClose("0.5 }");
  EXPECT_EQ(raisedMessage([&] { f.readFrom(wrongClose); }), "Error reading String: '>' expected");
  std::istringstream notANumber("abc >");
  EXPECT_EQ(raisedMessage([&] { f.readFrom(notANumber); }), "Error reading String: '>' expected");
  EXPECT_EQ(f.val(), 2.0f);

  NetCType<int> i(1);
  std::istringstream fraction("|1.5 }");
  EXPECT_EQ(raisedMessage([&] { i.unserialize(fraction); }), "Error reading String: '}' expected");
  std::istringstream tooLarge("|99999999999 }");
  EXPECT_EQ(raisedMessage([&] { i.unserialize(tooLarge); }), "Error reading String: '}' expected");
  std::istringstream unclosed("|3 >");
  EXPECT_EQ(raisedMessage([&] { i.unserialize(unclosed); }), "Error reading String: '}' expected");
  std::istringstream noBar("3 }");
  EXPECT_EQ(raisedMessage([&] { i.unserialize(noBar); }), "Error reading String: '|' expected");
  EXPECT_EQ(i.val(), 1);

  NetCType<bool> b(false);
  std::istringstream maybe("maybe >");
  EXPECT_EQ(raisedMessage([&] { b.readFrom(maybe); }), "Error reading String: '>' expected");

  String word("flux");
  std::istringstream empty(" >");
  EXPECT_EQ(raisedMessage([&] { word.readFrom(empty); }), "Error reading String: '>' expected");
  EXPECT_EQ(word.val(), "flux");
}

TEST(VectorText, PrintedFormAndRoundTrip) {
  Vector<float> v(3);
  v[0] = 1.0f;
  v[1] = 2.5f;
  v[2] = -3.0f;
  EXPECT_EQ(printedForm(v), "<Vector<float> 1 2.5 -3 > ");
  EXPECT_EQ(printedForm(Vector<float>()), "<Vector<float> > ");

  std::istringstream in(printedForm(v) + printedForm(Vector<float>()));
  Vector<float> back(7);
  readPrinted(in, back);
  EXPECT_EQ(static_cast<std::vector<float>&>(back), static_cast<std::vector<float>&>(v));
  readPrinted(in, back);
  EXPECT_TRUE(back.empty());
}

TEST(VectorText, MalformedInputIsRefused) {
  Vector<float> v(2, 4.0f);
  for (const char* bad : {"1 2", "1 x >", "1 2 }", ""}) {
    std::istringstream in(bad);
    EXPECT_EQ(raisedMessage([&] { v.readFrom(in); }), "Error reading Vector") << bad;
  }
  EXPECT_EQ(v.size(), 2u);
  EXPECT_EQ(v[1], 4.0f);
}

TEST(MatrixText, PrintedForm) {
  Matrix<float> m(2, 2);
  m(0, 1) = 1.5f;
  m(1, 0) = 2.0f;
  EXPECT_EQ(printedForm(m), "<Matrix<float> 2 2 0 1.5 2 0 >");
}
