// The entry point of the Windows test programs: gtest's own, except that
// the output is written as it is. In text mode every line would end in
// "\r\n", and ctest would take the "\r" for part of a suite's name when it
// lists the tests.
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
