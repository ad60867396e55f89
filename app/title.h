// The main window's title after an Open.
#pragma once

#include <cstddef>

namespace quolb {

inline constexpr std::size_t titleBufferSize = 256;

// Writes "Quolb～GIF   [" + name + "]" into `title`. A name too long for the
// buffer is cut at a character boundary, so the bracket always closes and no
// double-byte character loses its second byte.
void formatTitle(char (&title)[titleBufferSize], const char* name);

}  // namespace quolb
