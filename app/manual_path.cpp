#include "app/manual_path.h"

#include <cstring>

namespace mimicore {

bool BuildManualPath(const char* directory, char* out, size_t capacity) {
  if (out == nullptr || capacity == 0) {
    return false;
  }
  out[0] = '\0';
  if (directory == nullptr) {
    return false;
  }
  const size_t dirLength = strnlen(directory, capacity);
  const size_t fileLength = std::strlen(kManualRelativePath);
  if (dirLength >= capacity || fileLength >= capacity - dirLength) {
    return false;
  }
  std::memcpy(out, directory, dirLength);
  std::memcpy(out + dirLength, kManualRelativePath, fileLength + 1);
  return true;
}

}  // namespace mimicore
