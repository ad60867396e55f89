// Archives: compressed containers one after another, with no directory.
// loadPicture steps through them with loadArchiveItem; the converter lists
// the items and loads or describes each without touching archiveOffset.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/container.h"
#include "image/picture.h"

namespace quolb {

struct ArchiveItem {
    std::int64_t offset = 0;  // where the item's marker begins
    std::int64_t length = 0;  // up to the next marker or the end of the file
};

// Every item of the archive, in file order.
std::vector<ArchiveItem> listArchiveItems(std::FILE* file, std::int64_t fileLength);

// Loads the container that occupies [item.offset, item.offset + item.length).
// Returns 1 when a picture was loaded; `info` (if given) receives the header
// form and mode even when decoding then fails.
int loadArchiveEntry(Picture& picture, std::FILE* file, const ArchiveItem& item,
                     ContainerInfo* info, std::string* why);

// Loads the item at or after picture.archiveOffset and moves the offset on to
// the next item (to 0 after the last). Returns 1 when a picture was loaded.
int loadArchiveItem(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);

}  // namespace quolb
