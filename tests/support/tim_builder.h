// Builds TIM pictures and the byte strings the loader tests wrap them in.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace quolb::test {

struct TimSpec {
    int depth = 8;                     // 8 or 4
    std::uint16_t rowUnits = 2;        // W: 16-bit units per row
    std::uint16_t rows = 2;            // H
    std::vector<std::uint16_t> clut;   // at least 256 or 16 colours
    std::vector<std::uint8_t> pixels;  // 2 x W x H bytes, top row first
    std::int64_t clutLength = -1;      // L as stored; -1: 12 + 2 x clut.size()
};

inline void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}

// Colours and pixels in patterns that make misplaced rows, swapped nibbles
// or mixed-up channels show; odd colours set the unused bit 15.
inline TimSpec patternTim(int depth, std::uint16_t rowUnits, std::uint16_t rows, unsigned seed = 1) {
    TimSpec spec{depth, rowUnits, rows, {}, {}, -1};
    for (unsigned i = 0; i < (depth == 8 ? 256u : 16u); ++i)
        spec.clut.push_back(static_cast<std::uint16_t>((i * 7 + seed) % 32 | ((i * 3 + seed) % 32) << 5 |
                                                       ((i * 13 + seed * 5) % 32) << 10 | (i % 2) << 15));
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned c = 0; c < 2u * rowUnits; ++c)
            spec.pixels.push_back(static_cast<std::uint8_t>((r * 37 + c * 11 + seed + (c / 5) * (r % 3)) % 256));
    return spec;
}

// TIM data from the CLUT block on: the width field sits at
// max(L + 8, 12 + 2n) for the n colours the depth reads.
inline std::vector<std::uint8_t> timData(const TimSpec& spec) {
    std::vector<std::uint8_t> out;
    const auto clutLength = static_cast<std::uint32_t>(spec.clutLength >= 0 ? spec.clutLength
                                                                            : 12 + 2 * std::int64_t(spec.clut.size()));
    putLe(out, clutLength, 4);
    putLe(out, 0, 4);                                                            // x, y
    putLe(out, static_cast<std::uint32_t>(spec.clut.size()) | 1u << 16, 4);  // colours, one row
    for (auto colour : spec.clut) putLe(out, colour, 2);
    const std::size_t widthAt = std::max<std::size_t>(std::size_t{clutLength} + 8, spec.depth == 8 ? 524 : 44);
    out.resize(std::max(out.size(), widthAt - 8), 0);
    putLe(out, 12 + static_cast<std::uint32_t>(spec.pixels.size()), 4);  // the image block's length: not read
    putLe(out, 0, 4);                                                  // x, y
    out.resize(widthAt);
    putLe(out, spec.rowUnits | std::uint32_t{spec.rows} << 16, 4);
    out.insert(out.end(), spec.pixels.begin(), spec.pixels.end());
    return out;
}

inline std::vector<std::uint8_t> timFile(const TimSpec& spec) {
    std::vector<std::uint8_t> out = {16, 0, 0, 0, static_cast<std::uint8_t>(spec.depth == 8 ? 9 : 8), 0, 0, 0};
    const auto data = timData(spec);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline std::vector<std::uint8_t> concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (auto part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace quolb::test
