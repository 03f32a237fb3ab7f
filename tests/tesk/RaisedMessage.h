#ifndef TESTS_TESK_RAISED_MESSAGE_H
#define TESTS_TESK_RAISED_MESSAGE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tesk/Exception.h"

// Runs `f`, expecting it to raise a GeneralException; returns its message.
template <class F>
std::string raisedMessage(F f) {
  try {
    f();
  } catch (TESK::BaseException* e) {
    std::unique_ptr<TESK::BaseException> owned(e);
    EXPECT_NE(dynamic_cast<TESK::GeneralException*>(e), nullptr);
    return e->message();
  }
  ADD_FAILURE() << "nothing raised";
  return "";
}

#endif
