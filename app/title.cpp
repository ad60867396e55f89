#include "app/title.h"

#include <cstring>

#include "image/paths.h"
#include "app/texts.h"

namespace quolb {

void formatTitle(char (&title)[titleBufferSize], const char* name) {
    const std::size_t prefixLength = sizeof texts::titlePrefix - 1;
    // Room for the name: the buffer less the prefix, "]" and the NUL.
    const std::size_t room = titleBufferSize - prefixLength - 2;
    std::size_t keep = 0;
    while (name[keep] != '\0') {
        const bool pair = isCp932LeadByte(static_cast<unsigned char>(name[keep])) && name[keep + 1] != '\0';
        const std::size_t step = pair ? 2 : 1;
        if (keep + step > room) break;
        keep += step;
    }
    std::memcpy(title, texts::titlePrefix, prefixLength);
    std::memcpy(title + prefixLength, name, keep);
    title[prefixLength + keep] = ']';
    title[prefixLength + keep + 1] = '\0';
}

}  // namespace quolb
