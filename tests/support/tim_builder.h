// Builds TIM pictures and the byte strings the loader tests wrap them in.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace quolb::test {

struct TimPicture {
    int depth = 8;                     // 8 or 4
    std::uint16_t rowUnits = 2;        // W: 16-bit units per row
    std::uint16_t rows = 2;            // H
    std::vector<std::uint16_t> clut;   // at least 256 or 16 colours
    std::vector<std::uint8_t> pixels;  // 2 x W x H bytes, top row first
    std::uint32_t clutLength = 0;      // L as stored; 0: 12 + 2 x clut.size()
};

// Colours and pixels in patterns that make misplaced rows, swapped nibbles
// or mixed-up channels show; some colours set the unused bit 15.
inline TimPicture patternTim(int depth, std::uint16_t rowUnits, std::uint16_t rows, unsigned seed = 1) {
    TimPicture tim{depth, rowUnits, rows, {}, {}, 0};
    for (unsigned i = 0; i < (depth == 8 ? 256u : 16u); ++i) tim.clut.push_back(std::uint16_t(i * 1237 + seed * 4099));
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned c = 0; c < 2u * rowUnits; ++c)
            tim.pixels.push_back(static_cast<std::uint8_t>((r * 37 + c * 11 + seed + (c / 5) * (r % 3)) % 256));
    return tim;
}

inline void appendLittleEndian(std::vector<std::uint8_t>& out, std::size_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}

// The whole file; the width field sits at 8 + max(L + 8, 12 + 2n) for the
// n colours the depth reads.
inline std::vector<std::uint8_t> timFile(const TimPicture& tim) {
    std::vector<std::uint8_t> out;
    const auto put = [&out](std::size_t value, int bytes) { appendLittleEndian(out, value, bytes); };
    const std::size_t clutLength = tim.clutLength ? tim.clutLength : 12 + 2 * tim.clut.size();
    put(16, 4);
    put(tim.depth == 8 ? 9 : 8, 4);
    put(clutLength, 8);                        // L, then x and y
    put(tim.clut.size() | 1u << 16, 4);        // colours, one row
    for (auto colour : tim.clut) put(colour, 2);
    // An L longer than the colours stored (a malformed file) does not move the data.
    const std::size_t clutEnd = std::min(clutLength, 12 + 2 * tim.clut.size());
    const std::size_t widthAt = 8 + std::max<std::size_t>(clutEnd + 8, tim.depth == 8 ? 524 : 44);
    out.resize(widthAt - 8);
    put(12 + tim.pixels.size(), 8);  // the image block's length (not read), x, y
    out.resize(widthAt);
    put(tim.rowUnits | std::uint32_t{tim.rows} << 16, 4);
    out.insert(out.end(), tim.pixels.begin(), tim.pixels.end());
    return out;
}

// A TIM file of any kind by its flags: with bit 3, a CLUT block of the
// given colours (for 16- and 24-bit pictures one to skip), then the image
// block of W x H 16-bit units of `pixels`.
inline std::vector<std::uint8_t> timFileOfKind(std::uint32_t flags, std::uint16_t rowUnits, std::uint16_t rows,
                                               const std::vector<std::uint8_t>& pixels,
                                               const std::vector<std::uint16_t>& clut = {}) {
    std::vector<std::uint8_t> out;
    const auto put = [&out](std::size_t value, int bytes) { appendLittleEndian(out, value, bytes); };
    put(16, 4);
    put(flags, 4);
    if (flags & 8) {
        put(12 + 2 * clut.size(), 8);
        put(clut.size() | 1u << 16, 4);
        for (auto colour : clut) put(colour, 2);
    }
    put(12 + pixels.size(), 8);
    put(rowUnits | std::uint32_t{rows} << 16, 4);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

inline std::vector<std::uint8_t> concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (auto part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace quolb::test
