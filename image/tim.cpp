// TIM pictures with a colour look-up table, as this program reads them.
//
// File: identifier (u32 16), flags (u32: 9 = 8-bit pixels, 8 = 4-bit
// pixels; anything else is refused), then the TIM data. All values are
// little-endian. TIM data, from the CLUT block on (n = 256 or 16 colours):
//   0       u32 L, the CLUT block's length including its 12 header bytes
//   4       8 bytes not used
//   12      n colours, u16 each: red bits 0-4, green 5-9, blue 10-14
//   X       the image block's u16 W (row width in 16-bit units) and u16 H,
//           X = max(L + 8, 12 + 2n), so a short L never makes the width
//           overlap the colours
//   X + 4   H rows of 2W bytes, top row first. 8-bit: one index per byte;
//           4-bit: the left pixel in the low nibble, the right in the high.
// The DIB gets width 2W (8-bit) or 4W (4-bit), rows bottom-up, and its
// pixel rows at byte 1064 or 104.
#include "image/tim.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "image/byte_reader.h"
#include "image/file_io.h"

namespace quolb {
namespace {

constexpr std::uint32_t timIdentifier = 16;
constexpr std::uint32_t flags8Bit = 9;
constexpr std::uint32_t flags4Bit = 8;
constexpr std::uint32_t clutHeaderSize = 12;

int decodeTim(Picture& picture, std::span<const std::uint8_t> data, std::uint16_t bitCount,
              std::string* why) {
    const std::uint32_t colours = bitCount == 8 ? 256 : 16;
    ByteReader reader(data);
    std::uint32_t clutLength = 0;
    if (!reader.readU32(clutLength)) return fail(why, "TIM data ends before its colour table");
    if (clutLength < clutHeaderSize) return fail(why, "TIM colour table block is shorter than its header");

    const std::uint64_t coloursEnd = clutHeaderSize + 2 * std::uint64_t{colours};
    if (coloursEnd > data.size()) return fail(why, "colour table runs past the end of the data");

    const std::uint64_t imageHeader = std::max<std::uint64_t>(std::uint64_t{clutLength} + 8, coloursEnd);
    std::uint16_t rowUnits = 0;
    std::uint16_t rows = 0;
    if (imageHeader + 4 > data.size() || !reader.seek(static_cast<std::size_t>(imageHeader)) ||
        !reader.readU16(rowUnits) || !reader.readU16(rows))
        return fail(why, "TIM image header runs past the end of the data");
    if (rowUnits == 0 || rows == 0) return fail(why, "picture has no pixels");

    const std::size_t rowBytes = 2 * std::size_t{rowUnits};
    std::span<const std::uint8_t> pixels;
    if (!reader.take(rowBytes * rows, pixels)) return fail(why, "pixel data runs past the end of the data");

    const std::int32_t width = (bitCount == 8 ? 2 : 4) * std::int32_t{rowUnits};
    if (!allocateDib(picture, width, rows, bitCount, static_cast<std::int32_t>(colours), why)) return 0;

    std::uint8_t* table = picture.dib.data() + dibHeaderSize;
    for (std::uint32_t i = 0; i < colours; ++i) {
        const unsigned colour = data[clutHeaderSize + 2 * i] | unsigned{data[clutHeaderSize + 2 * i + 1]} << 8;
        table[4 * i + 0] = widenChannel(colour >> 10);
        table[4 * i + 1] = widenChannel(colour >> 5);
        table[4 * i + 2] = widenChannel(colour);
    }
    buildPalette(picture);

    const std::size_t stride = static_cast<std::size_t>(dibStride(bitCount, width));
    std::uint8_t* rowsOut = table + 4 * colours;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* in = pixels.data() + r * rowBytes;
        std::uint8_t* out = rowsOut + (rows - 1 - r) * stride;
        if (bitCount == 8) {
            std::copy_n(in, rowBytes, out);
        } else {
            // The DIB wants the left pixel of each pair in the high nibble.
            for (std::size_t i = 0; i < rowBytes; ++i)
                out[i] = static_cast<std::uint8_t>(in[i] << 4 | in[i] >> 4);
        }
    }
    return 1;
}

// A read at the end of the file counts as 255, so a short file fails the
// identifier check instead of being read past its end.
std::uint32_t readU32ByBytes(std::FILE* file) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int c = std::fgetc(file);
        value |= static_cast<std::uint32_t>(c == EOF ? 255 : c) << (8 * i);
    }
    return value;
}

}  // namespace

int decodeTim8(Picture& picture, std::span<const std::uint8_t> data, std::string* why) {
    return decodeTim(picture, data, 8, why);
}

int decodeTim4(Picture& picture, std::span<const std::uint8_t> data, std::string* why) {
    return decodeTim(picture, data, 4, why);
}

int loadTimFile(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why) {
    if (readU32ByBytes(file) != timIdentifier) return fail(why, "not a TIM picture (wrong identifier)");
    const std::uint32_t flags = readU32ByBytes(file);
    if (flags != flags8Bit && flags != flags4Bit)
        return fail(why, "TIM pictures with flags " + std::to_string(flags) + " are not supported");

    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(fileLength - 8));
    } catch (const std::exception&) {
        return fail(why, "not enough memory for the TIM data");
    }
    if (!data.empty() && std::fread(data.data(), 1, data.size(), file) != data.size())
        return fail(why, "cannot read the file");
    return flags == flags8Bit ? decodeTim8(picture, data, why) : decodeTim4(picture, data, why);
}

}  // namespace quolb
