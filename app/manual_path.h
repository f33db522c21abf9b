// Where the manual lives: "manual/manual.html" below the program's folder.
#pragma once

#include <cstddef>

namespace mimicore {

inline constexpr const char* kManualRelativePath = "manual/manual.html";

// Writes |directory| (ending in its separator) followed by the manual's
// relative path into |out| of |capacity| bytes. False, and nothing usable
// in |out|, when the two do not fit with their terminator: a path cut
// short would open some other file.
bool BuildManualPath(const char* directory, char* out, size_t capacity);

}  // namespace mimicore
