// Little-endian byte order for everything the program stores or exchanges
// (WAV files, registry values), whatever the host's order.
#pragma once

#include <cstdint>

namespace mimicore {

inline void PutLe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8U);
}

inline void PutLe32(uint8_t* at, uint32_t value) {
  PutLe16(at, static_cast<uint16_t>(value));
  PutLe16(at + 2, static_cast<uint16_t>(value >> 16U));
}

inline uint16_t GetLe16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8U)); }

inline uint32_t GetLe32(const uint8_t* at) {
  return uint32_t{GetLe16(at)} | (uint32_t{GetLe16(at + 2)} << 16U);
}

}  // namespace mimicore
