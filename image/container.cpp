#include "loaders.h"

namespace quolb {

int loadContainerFile(Picture&, std::FILE*, std::int64_t, std::string* why) {
    return fail(why, "compressed containers are not supported yet");
}

}  // namespace quolb
