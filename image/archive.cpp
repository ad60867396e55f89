#include "loaders.h"

namespace quolb {

int loadArchiveItem(Picture&, std::FILE*, std::int64_t, std::string* why) {
    return fail(why, "archives are not supported yet");
}

}  // namespace quolb
