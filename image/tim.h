// The TIM conversions shared by TIM files and compressed containers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "image/picture.h"

namespace quolb {

// Turn TIM data that begins at the CLUT block (offset 8 of a TIM file) into
// an 8-bit (256 colours) or 4-bit (16 colours) bottom-up DIB with its
// palette. Every block is checked against data.size(); TIM data whose blocks
// claim more than is there fails with a reason and leaves no dib or palette.
int decodeTim8(Picture& picture, std::span<const std::uint8_t> data, std::string* why);
int decodeTim4(Picture& picture, std::span<const std::uint8_t> data, std::string* why);

// The 5-bit colour channels widened to 8 bits: 0 -> 0, 31 -> 255.
constexpr std::uint8_t widenChannel(unsigned value) {
    return static_cast<std::uint8_t>((value & 31u) * 255u / 31u);
}

}  // namespace quolb
