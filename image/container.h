// Compressed containers: one TIM picture behind one of two header forms,
// compressed with a flag-byte LZSS scheme in one of four modes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/picture.h"

namespace quolb {

enum class ContainerForm { unknown, tim, lzssBu2 };

// What a container's header says.
struct ContainerInfo {
    ContainerForm form = ContainerForm::unknown;  // unknown: the header was not recognised
    int mode = -1;  // the mode decoding uses (a "TIM" form's 1 already read as 3)
};

// Loads the container of `itemLength` bytes that starts at the stream's
// position: its header, then its payload through decodeLzss. Returns 1 when
// a picture was loaded, else 0 with the reason in `why`. `info` (if given)
// receives the header's form and mode even when decoding then fails.
int loadContainer(Picture& picture, std::FILE* file, std::int64_t itemLength, ContainerInfo* info,
                  std::string* why);

// Decodes `payloadLength` bytes from the stream's position in `mode` (0 to
// 3), reading them in bounded pieces, into one flat output area of 300,000
// bytes, and hands the TIM picture found there to its 8-bit or 4-bit
// conversion. Returns 1 when a picture was loaded, else 0 with the reason.
int decodeLzss(Picture& picture, std::FILE* file, std::int64_t payloadLength, int mode, std::string* why);

}  // namespace quolb
