#include "archive.h"
#include "loaders.h"

namespace quolb {

int loadArchiveItem(Picture&, std::FILE*, std::int64_t, std::string* why) {
    return fail(why, "archives are not supported yet");
}

std::vector<ArchiveItem> listArchiveItems(std::FILE*, std::int64_t) { return {}; }

int loadArchiveEntry(Picture&, std::FILE*, const ArchiveItem&, ContainerInfo*, std::string* why) {
    return fail(why, "archives are not supported yet");
}

}  // namespace quolb
