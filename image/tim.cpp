#include "loaders.h"

namespace quolb {

int loadTimFile(Picture&, std::FILE*, std::int64_t, std::string* why) {
    return fail(why, "TIM pictures are not supported yet");
}

}  // namespace quolb
