// TIM pictures with a colour look-up table: as files of their own, and as the
// decoded content of a compressed container.
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

// Turn TIM data that begins at the CLUT block (offset 8 of a TIM file) into
// an 8-bit (256 colours) or 4-bit (16 colours) bottom-up DIB with its
// palette. Every block is checked against data.size(); TIM data whose blocks
// claim more than is there fails with a reason and leaves no dib or palette.
int decodeTim8(Picture& picture, std::span<const std::uint8_t> data, std::string* why);
int decodeTim4(Picture& picture, std::span<const std::uint8_t> data, std::string* why);

}  // namespace quolb
