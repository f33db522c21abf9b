#include "app/manual_path.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace mimicore {
namespace {

TEST(ManualPath, FitsExactlyOrIsRefusedWhole) {
  const std::string manual = kManualRelativePath;
  constexpr size_t kCapacity = 260;
  struct Case {
    std::string directory;
    bool fits;
  } cases[] = {
      {"C:\\Program Files\\Mimicore\\", true},
      {"", true},
      {std::string(kCapacity - 1 - manual.size(), 'd'), true},  // the terminator just fits
      {std::string(kCapacity - manual.size(), 'd'), false},
      {std::string(kCapacity + 40, 'd'), false},  // longer than the buffer itself
  };
  for (const Case& c : cases) {
    std::array<char, kCapacity + 1> out{};
    out.back() = '#';  // a byte past the buffer: never written
    EXPECT_EQ(BuildManualPath(c.directory.c_str(), out.data(), kCapacity), c.fits)
        << c.directory.size();
    EXPECT_EQ(out.data(), c.fits ? c.directory + manual : std::string());
    EXPECT_EQ(out.back(), '#');
  }
  EXPECT_FALSE(BuildManualPath(nullptr, std::array<char, 8>{}.data(), 8));
}

}  // namespace
}  // namespace mimicore
