// Builds bitmap files byte by byte for tests: a template whose every field
// can be set to any value, sane or not.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "byte_reader.h"
#include "temp_file.h"

namespace quolb::test {

struct BmpBuilder {
    char type[2] = {'B', 'M'};
    std::optional<std::uint32_t> pixelOffset;  // default: where the pixels are put
    std::uint32_t headerSize = 40;  // 12 or less still writes the 40-byte fields
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t clrUsed = 0;
    // After a 40-byte header, or inside a longer one at its byte 40.
    std::vector<std::uint32_t> masks;
    std::vector<std::uint8_t> table;  // raw colour-table bytes
    std::vector<std::uint8_t> gap;    // bytes between the table and the pixels
    std::vector<std::uint8_t> pixels;

    std::vector<std::uint8_t> bytes() const {
        // Absurd header sizes are written as a field only.
        std::vector<std::uint8_t> out(14 + std::clamp<std::size_t>(headerSize, 40, 124), 0);
        out[0] = static_cast<std::uint8_t>(type[0]);
        out[1] = static_cast<std::uint8_t>(type[1]);
        std::uint8_t* info = out.data() + 14;
        storeU32(info + 0, headerSize);
        storeU32(info + 4, static_cast<std::uint32_t>(width));
        storeU32(info + 8, static_cast<std::uint32_t>(height));
        storeU16(info + 12, planes);
        storeU16(info + 14, bitCount);
        storeU32(info + 16, compression);
        storeU32(info + 20, sizeImage);
        storeU32(info + 32, clrUsed);
        if (headerSize > 40) {
            for (std::size_t i = 0; i < masks.size() && 40 + 4 * i + 4 <= headerSize; ++i)
                storeU32(info + 40 + 4 * i, masks[i]);
        } else {
            for (std::uint32_t mask : masks) {
                out.resize(out.size() + 4);
                storeU32(out.data() + out.size() - 4, mask);
            }
        }
        out.insert(out.end(), table.begin(), table.end());
        out.insert(out.end(), gap.begin(), gap.end());
        storeU32(out.data() + 10, pixelOffset.value_or(static_cast<std::uint32_t>(out.size())));
        out.insert(out.end(), pixels.begin(), pixels.end());
        storeU32(out.data() + 2, static_cast<std::uint32_t>(out.size()));
        return out;
    }
};

}  // namespace quolb::test
