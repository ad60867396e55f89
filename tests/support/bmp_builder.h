// Builds bitmap files byte by byte for tests: a template whose every field
// can be set to any value, sane or not. As it stands, a valid 1 x 1 24-bit
// bitmap.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "image/byte_reader.h"

namespace quolb::test {

struct BmpBuilder {
    std::uint32_t pixelOffset = 0;  // 0: where the pixels are put
    std::uint32_t headerSize = 40;  // 12: the core header's 16-bit fields; sizes outside 12 to 124 as the field only
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint32_t> masks;  // after a 40-byte header, or inside a longer one at its byte 40
    std::vector<std::uint8_t> table;   // raw colour-table bytes
    std::vector<std::uint8_t> pixels = {0, 0, 0, 0};

    std::vector<std::uint8_t> bytes() const {
        // Masks follow a 40-byte header; the longer headers hold them inside.
        const std::size_t maskBytes = headerSize <= 40 ? 4 * masks.size() : 0;
        const std::size_t area = headerSize >= 12 && headerSize <= 124 ? headerSize : 40;
        std::vector<std::uint8_t> out(14 + area + maskBytes, 0);
        std::copy_n("BM", 2, out.begin());
        const std::uint32_t fields[] = {headerSize, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                        std::uint32_t{planes} | std::uint32_t{bitCount} << 16, compression, 0, 0, 0, clrUsed};
        for (std::size_t i = 0; i < std::size(fields) && 4 * i < area; ++i) storeU32(out.data() + 14 + 4 * i, fields[i]);
        if (area == 12) {
            const std::uint16_t core[] = {static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), planes, bitCount};
            for (std::size_t i = 0; i < std::size(core); ++i) storeU16(out.data() + 18 + 2 * i, core[i]);
        }
        for (std::size_t i = 0; i < masks.size(); ++i) storeU32(out.data() + 54 + 4 * i, masks[i]);
        const std::size_t tableAt = out.size();
        out.resize(tableAt + table.size() + pixels.size());
        std::copy(table.begin(), table.end(), out.begin() + static_cast<std::ptrdiff_t>(tableAt));
        const std::size_t pixelsAt = tableAt + table.size();
        std::copy(pixels.begin(), pixels.end(), out.begin() + static_cast<std::ptrdiff_t>(pixelsAt));
        storeU32(out.data() + 10, pixelOffset != 0 ? pixelOffset : static_cast<std::uint32_t>(pixelsAt));
        storeU32(out.data() + 2, static_cast<std::uint32_t>(out.size()));
        return out;
    }
};

}  // namespace quolb::test
