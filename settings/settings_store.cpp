#include "settings/settings_store.h"

#include <algorithm>

namespace mimicore {

bool TextFromStoredString(const uint8_t* data, size_t size, std::string& text) {
  if (data == nullptr) {
    return false;
  }
  const uint8_t* end = data + std::min(size, kStoredTextMaxBytes + 1);
  const uint8_t* nul = std::find(data, end, uint8_t{0});
  if (nul == end) {
    return false;
  }
  text.assign(data, nul);
  return true;
}

}  // namespace mimicore
