#ifndef TESTS_NODE_NODE_FIXTURE_H
#define TESTS_NODE_NODE_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tesk/NetCType.h"
#include "tesk/ParameterSet.h"

// Runs each test in a fresh temporary directory: the node writes its beat
// log and the engine its diagnostic files into the working directory.
class InTempDir : public ::testing::Test {
protected:
  void SetUp() override {
    previous = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "node-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    std::filesystem::current_path(dir);
  }
  void TearDown() override {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path previous;
  std::filesystem::path dir;
};

struct NodeParams {
  float threshold = 0.5f;
  int advance = 441;
  int rate = 44100;
  int max_bpm = 200;
  int min_bpm = 60;
  bool vectors = false;
  bool log = false;

  TESK::ParameterSet set() const {
    TESK::ParameterSet params;
    params.add("RELIABILITY-THRESHOLD", TESK::ObjectRef(TESK::NetCType<float>::alloc(threshold)));
    params.add("ADVANCE", TESK::ObjectRef(TESK::NetCType<int>::alloc(advance)));
    params.add("SAMPLING_RATE", TESK::ObjectRef(TESK::NetCType<int>::alloc(rate)));
    params.add("MAX_BPM", TESK::ObjectRef(TESK::NetCType<int>::alloc(max_bpm)));
    params.add("MIN_BPM", TESK::ObjectRef(TESK::NetCType<int>::alloc(min_bpm)));
    params.add("VECTOR_FLAG", vectors ? TESK::TrueObject : TESK::FalseObject);
    params.add("LOG_FLAG", log ? TESK::TrueObject : TESK::FalseObject);
    return params;
  }
};

#endif
