#include "loaders.h"

namespace quolb {

int loadBitmap(Picture&, std::FILE*, std::int64_t, std::string* why) {
    return fail(why, "bitmaps are not supported yet");
}

}  // namespace quolb
