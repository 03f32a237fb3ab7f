// A private JACK server for the tests (dummy backend, 48 kHz, periods of
// 256 frames) under a name of its own, reached through
// JACK_DEFAULT_SERVER. It dies with the test process, also when a test
// fails or the process is killed.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>

class JackServer : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

 private:
  pid_t pid_ = -1;
  std::string name_;
};
