// Windows bitmap files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/picture.h"

namespace quolb {

// Loads a bitmap file from the stream. Returns 1 when a picture was loaded,
// else 0 with the reason in `why`.
int loadBitmap(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);

}  // namespace quolb
