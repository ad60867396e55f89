// What the converter needs beyond loadPicture to work through an archive:
// the items' bounds, and loading or describing one item without touching
// the Picture's archiveOffset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/picture.h"

namespace quolb {

struct ArchiveItem {
    std::int64_t offset = 0;  // where the item's marker begins
    std::int64_t length = 0;  // up to the next marker or the end of the file
};

// Every item of the archive, in file order.
std::vector<ArchiveItem> listArchiveItems(std::FILE* file, std::int64_t fileLength);

enum class ContainerForm { unknown, tim, lzssBu2 };

struct ContainerInfo {
    ContainerForm form = ContainerForm::unknown;
    int mode = -1;  // the mode decoding uses (a "TIM" form's 1 already read as 3)
};

// Loads the container that occupies [item.offset, item.offset + item.length).
// Returns 1 when a picture was loaded; `info` (if given) receives the header
// form and mode even when decoding then fails.
int loadArchiveEntry(Picture& picture, std::FILE* file, const ArchiveItem& item,
                     ContainerInfo* info, std::string* why);

}  // namespace quolb
