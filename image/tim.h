// TIM pictures of every pixel mode: as files of their own, and as the decoded
// content of a compressed container.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "image/picture.h"

namespace quolb {

// Loads a TIM file from the stream's start. Returns 1 when a picture was
// loaded, else 0 with the reason in `why`.
int loadTimFile(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);

// Turns TIM data that begins after the flags word (offset 8 of a TIM file)
// into a bottom-up DIB with its palette: 4- and 8-bit pictures keep their
// indices (with a grey ramp when the data has no CLUT), 16- and 24-bit
// pictures become 24-bit DIBs. Only the flags' low byte is read. Every
// block is checked against data.size(); TIM data whose blocks claim more
// than is there fails with a reason and leaves no dib or palette.
int decodeTim(Picture& picture, std::uint32_t flags, std::span<const std::uint8_t> data, std::string* why);

}  // namespace quolb
