// TIM pictures, as this program reads them.
//
// File: identifier (u32 16), flags (u32), then the TIM data. Only the flags'
// low byte says what follows (other bits are ignored, as the console's own
// loaders do): bits 0-1 the pixel mode (0: 4-bit, 1: 8-bit, 2: 16-bit,
// 3: 24-bit), bit 3 a CLUT block first; any other bit set is refused. All
// values are little-endian. TIM data:
//   CLUT block (when bit 3 is set):
//     0       u32 L, the block's length including its 12 header bytes
//     4       8 bytes not used
//     12      colours, u16 each: red bits 0-4, green 5-9, blue 10-14,
//             bit 15 the semi-transparency flag; n = 16 (4-bit) or 256
//             (8-bit) of them are used, 16- and 24-bit pictures skip it
//   image block, at X = max(L, 12 + 2n - 8) with a CLUT block, else 0:
//     X       8 bytes not used (length, position)
//     X + 8   u16 W (row width in 16-bit units) and u16 H
//     X + 12  H rows of 2W bytes, top row first. 4-bit: the left pixel in
//             the low nibble; 8-bit: one index per byte; 16-bit: W colours
//             as in the CLUT; 24-bit: 2W / 3 pixels of red, green, blue.
// 5-bit channels widen to v * 255 / 31. 4- and 8-bit pictures without a
// CLUT get a grey ramp. Direct pictures load as 24-bit DIBs.
#include "image/tim.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "image/byte_reader.h"
#include "image/file_io.h"

namespace quolb {
namespace {

constexpr std::uint32_t timIdentifier = 16;
constexpr std::uint32_t clutHeaderSize = 12;
constexpr unsigned clutFlag = 8;

std::string kindName(std::uint32_t flags) {
    char text[48];
    std::snprintf(text, sizeof text, "kind %u (flags 0x%08X)", static_cast<unsigned>(flags & 0xFF),
                  static_cast<unsigned>(flags));
    return text;
}

void storeColour(std::uint8_t* entry, unsigned colour) {
    entry[0] = widenChannel(colour >> 10);
    entry[1] = widenChannel(colour >> 5);
    entry[2] = widenChannel(colour);
}

// The image block's start: after the CLUT block, but never inside the
// colours read, so a short L cannot make the width overlap them.
int findImageBlock(std::span<const std::uint8_t> data, bool hasClut, std::uint32_t colours,
                   std::uint64_t& imageBlock, std::string* why) {
    imageBlock = 0;
    if (!hasClut) return 1;
    ByteReader reader(data);
    std::uint32_t clutLength = 0;
    if (!reader.readU32(clutLength)) return fail(why, "TIM data ends before its colour table");
    if (clutLength < clutHeaderSize) return fail(why, "TIM colour table block is shorter than its header");
    const std::uint64_t coloursEnd = clutHeaderSize + 2 * std::uint64_t{colours};
    if (coloursEnd > data.size()) return fail(why, "colour table runs past the end of the data");
    imageBlock = std::max<std::uint64_t>(clutLength, coloursEnd - 8);
    return 1;
}

int decodeIndexed(Picture& picture, std::span<const std::uint8_t> data, bool hasClut, std::uint16_t bitCount,
                  std::span<const std::uint8_t> pixels, std::size_t rowBytes, std::uint16_t rows,
                  std::string* why) {
    const std::uint32_t colours = bitCount == 8 ? 256 : 16;
    const std::int32_t width = static_cast<std::int32_t>(rowBytes * 8 / bitCount);
    if (!allocateDib(picture, width, rows, bitCount, static_cast<std::int32_t>(colours), why)) return 0;

    std::uint8_t* table = picture.dib.data() + dibHeaderSize;
    for (std::uint32_t i = 0; i < colours; ++i) {
        if (hasClut) {
            const unsigned colour = data[clutHeaderSize + 2 * i] | unsigned{data[clutHeaderSize + 2 * i + 1]} << 8;
            storeColour(table + 4 * i, colour);
            picture.zeroEntries[i] = colour == 0;
        } else {
            const auto grey = static_cast<std::uint8_t>(i * 255 / (colours - 1));
            std::fill_n(table + 4 * i, 3, grey);
        }
    }
    if (!hasClut) picture.note = "the file has no colour table: a grey ramp stands in";
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

int decodeDirect(Picture& picture, unsigned mode, std::span<const std::uint8_t> pixels, std::size_t rowBytes,
                 std::uint16_t rows, std::string* why) {
    const std::size_t width = mode == 2 ? rowBytes / 2 : rowBytes / 3;
    if (width == 0) return fail(why, "picture has no pixels");
    if (!allocateDib(picture, static_cast<std::int32_t>(width), rows, 24, 0, why)) return 0;
    const std::size_t stride = static_cast<std::size_t>(dibStride(24, static_cast<std::int64_t>(width)));
    const bool markZeros = mode == 2 && picture.markZeroPixels;
    if (markZeros) picture.zeroPixels.assign(width * rows, false);
    std::uint8_t* rowsOut = picture.dib.data() + dibHeaderSize;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* in = pixels.data() + r * rowBytes;
        std::uint8_t* out = rowsOut + (rows - 1 - r) * stride;
        for (std::size_t x = 0; x < width; ++x, out += 3) {
            if (mode == 2) {
                const unsigned colour = in[2 * x] | unsigned{in[2 * x + 1]} << 8;
                storeColour(out, colour);
                if (markZeros && colour == 0) picture.zeroPixels[r * width + x] = true;
            } else {
                out[0] = in[3 * x + 2];
                out[1] = in[3 * x + 1];
                out[2] = in[3 * x];
            }
        }
    }
    buildPalette(picture);
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

int decodeTim(Picture& picture, std::uint32_t flags, std::span<const std::uint8_t> data, std::string* why) {
    const unsigned kind = flags & 0xFF;
    if ((kind & ~(clutFlag | 3u)) != 0) return fail(why, "TIM pictures of " + kindName(flags) + " are not supported");
    const unsigned mode = kind & 3;
    const bool hasClut = (kind & clutFlag) != 0;
    const std::uint16_t bitCount = mode == 0 ? 4 : 8;
    const std::uint32_t colours = mode == 0 ? 16 : mode == 1 ? 256 : 0;

    std::uint64_t imageBlock = 0;
    if (!findImageBlock(data, hasClut, colours, imageBlock, why)) return 0;
    ByteReader reader(data);
    std::uint16_t rowUnits = 0;
    std::uint16_t rows = 0;
    if (imageBlock + 12 > data.size() || !reader.seek(static_cast<std::size_t>(imageBlock + 8)) ||
        !reader.readU16(rowUnits) || !reader.readU16(rows))
        return fail(why, "TIM image header runs past the end of the data");
    if (rowUnits == 0 || rows == 0) return fail(why, "picture has no pixels");

    const std::size_t rowBytes = 2 * std::size_t{rowUnits};
    std::span<const std::uint8_t> pixels;
    if (!reader.take(rowBytes * rows, pixels)) return fail(why, "pixel data runs past the end of the data");
    if (mode >= 2) return decodeDirect(picture, mode, pixels, rowBytes, rows, why);
    return decodeIndexed(picture, data, hasClut, bitCount, pixels, rowBytes, rows, why);
}

int loadTimFile(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why) {
    if (readU32ByBytes(file) != timIdentifier) return fail(why, "not a TIM picture (wrong identifier)");
    const std::uint32_t flags = readU32ByBytes(file);
    if ((flags & ~(clutFlag | 3u) & 0xFF) != 0)
        return fail(why, "TIM pictures of " + kindName(flags) + " are not supported");

    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(std::max<std::int64_t>(fileLength - 8, 0)));
    } catch (const std::exception&) {
        return fail(why, "not enough memory for the TIM data");
    }
    if (!data.empty() && std::fread(data.data(), 1, data.size(), file) != data.size())
        return fail(why, "cannot read the file");
    return decodeTim(picture, flags, data, why);
}

}  // namespace quolb
