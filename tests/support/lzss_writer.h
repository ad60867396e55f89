// A small LZSS compressor for the tests: payloads in every mode and
// containers in both header forms, so decoding can be checked by round trip.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "tests/support/tim_builder.h"

namespace quolb::test {

// One payload item: a literal byte b1, or a back-reference's two bytes.
struct LzssToken { bool reference; std::uint8_t b1, b2; };

// Groups tokens under flag bytes, eight to a group.
inline std::vector<std::uint8_t> packLzss(std::span<const LzssToken> tokens) {
    std::vector<std::uint8_t> out;
    std::size_t flagAt = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (i % 8 == 0) {
            flagAt = out.size();
            out.push_back(0);
        }
        out.push_back(tokens[i].b1);
        if (!tokens[i].reference) continue;
        out[flagAt] = static_cast<std::uint8_t>(out[flagAt] | 0x80 >> (i % 8));
        out.push_back(tokens[i].b2);
    }
    return out;
}

// Compresses `data` in `mode` (0 to 3), greedily.
inline std::vector<std::uint8_t> compressLzss(std::span<const std::uint8_t> data, int mode) {
    const std::size_t window = mode < 2 ? 256 : 4096;
    const std::size_t maxLength = mode == 0 ? 255 : mode == 1 ? 257 : mode == 2 ? 17 : 15;
    std::vector<LzssToken> tokens;
    for (std::size_t k = 0, length = 0; k < data.size(); k += std::max<std::size_t>(length, 1)) {
        // The longest match among the 1024 nearest sources the decoder reaches:
        // back to k - window + 1, or early on to position 0 (offset o is then o - 1).
        std::size_t offset = 0;
        length = 0;
        for (std::size_t from = k; from-- > (k + 1 >= window ? k + 1 - window : 0) && k - from <= 1024;) {
            std::size_t n = 0;
            while (n < maxLength && k + n < data.size() && data[from + n] == data[k + n]) ++n;
            if (n > length) offset = k + 1 >= window ? from + window - k : from + 1;
            length = std::max(length, n);
        }
        const std::size_t stored = mode == 1 || mode == 2 ? length - 2 : length;
        const auto byte = [](std::size_t v) { return static_cast<std::uint8_t>(v); };
        if (length < 3) length = 0;
        if (length == 0) tokens.push_back({false, data[k], 0});
        else if (mode < 2) tokens.push_back({true, byte(offset), byte(stored)});
        else tokens.push_back({true, byte(offset >> 4), byte((offset & 15) << 4 | stored)});
    }
    return packLzss(tokens);
}

// Containers of a whole TIM file (its first byte, 0x10, ends the header).
// `modeByte` is written as given; the payload is compressed in the mode it
// means (in the "TIM" form 1 means 3).
inline std::vector<std::uint8_t> timFormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte) {
    const std::uint8_t header[] = {'T', 'I', 'M', modeByte, 0xA1, 0xB2, 0xC3, 0xD4, 0x10};
    return concat({header, compressLzss(timFile.subspan(1), modeByte == 1 ? 3 : modeByte % 4)});
}

inline std::vector<std::uint8_t> bu2FormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte,
                                                  char letter) {
    const std::uint8_t header[] = {'L', 'Z', 'S', 'S', '-', 'b', 'u', '2', 0, 0, static_cast<std::uint8_t>(letter),
                                   modeByte, 0x11, 0x22, 0x33, 0x44, 0x10};
    return concat({header, compressLzss(timFile.subspan(1), modeByte % 4)});
}

}  // namespace quolb::test
