// gtest's own entry point, but with stdout in binary mode: in text mode ctest
// would take the "\r" of each line for part of the test names it lists.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
