// Runner of the JACK tests: a private server around them.
#include <gtest/gtest.h>

#include "jack_server.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new JackServer);
  return RUN_ALL_TESTS();
}
