// The loaders loadPicture dispatches to, one per file type. Each is given the
// open stream at the start of the file and the file's length; each returns 1
// when the picture was loaded and 0 otherwise, with the reason in `why`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/picture.h"

namespace quolb {

int loadBitmap(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);
int loadTimFile(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);
int loadContainerFile(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);
// Loads the item at or after picture.archiveOffset and moves the offset on.
int loadArchiveItem(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);

}  // namespace quolb
