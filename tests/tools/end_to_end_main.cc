// Test runner of the end-to-end tests: CTest passes the program and the
// plug-in under test as --tool=PATH and --plugin=PATH.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--tool=", 0) == 0) setenv("TESK_BEAT_TOOL", arg.c_str() + 7, 1);
    if (arg.rfind("--plugin=", 0) == 0) setenv("TESK_BEAT_PLUGIN", arg.c_str() + 9, 1);
  }
  return RUN_ALL_TESTS();
}
