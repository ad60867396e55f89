// A small LZSS compressor for the tests: payloads in every mode and
// containers in both header forms, so decoding can be checked by round trip.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quolb::test {

// One payload item: a literal byte b1, or a back-reference's two bytes.
struct LzssToken { bool reference; std::uint8_t b1, b2; };

// Groups tokens under flag bytes, eight to a group.
std::vector<std::uint8_t> packLzss(std::span<const LzssToken> tokens);

// Compresses `data` in `mode` (0 to 3), greedily.
std::vector<std::uint8_t> compressLzss(std::span<const std::uint8_t> data, int mode);

// Containers of a whole TIM file (its first byte, 0x10, ends the header).
// `modeByte` is written as given; the payload is compressed in the mode it
// means (in the "TIM" form 1 means 3).
std::vector<std::uint8_t> timFormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte);
std::vector<std::uint8_t> bu2FormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte,
                                           char letter = 'M');

}  // namespace quolb::test
