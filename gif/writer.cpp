#include "writer.h"

namespace quolb {

int writeGif(const Picture&, const char*, int, TransparentColour, std::string* why) {
    return fail(why, "not written yet");
}

}  // namespace quolb
