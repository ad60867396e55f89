// Windows bitmap files, as this program reads them.
//
// All numbers are little-endian.
//   0   2  type, usually "BM" (not checked: files with other bytes load too)
//   2   4  file size (ignored)
//   6   4  reserved (ignored)
//  10   4  offset of the pixel data
//  14   4  info header size: 40, or 52, 56, 108, 124 for the longer headers
//          some writers use (their extra fields are skipped); 12 for the
//          core header of old Windows and OS/2 1.x (u16 width, height,
//          planes, bit count; 3-byte table entries, and a table cut short
//          when the pixel data starts sooner); 64 for the OS/2 2.x header
//          and 16 for its short form (the fields past 16 bytes are 0)
//  18  36  the rest of the 40-byte BITMAPINFOHEADER: width, height (negative
//          for top-down rows), planes (1), bit count (1, 2, 4, 8, 16, 24,
//          32), compression, image size, resolution, colours used, important
//  then    with BI_BITFIELDS (3) or BI_ALPHABITFIELDS (6) after a 40-byte
//          header: red, green, blue (and alpha) masks, 4 bytes each; the
//          longer headers carry the masks at byte 40 of the header instead,
//          and those of 56 bytes or more an alpha mask at byte 52, which a
//          32-bit BI_RGB picture honours when it is 0xFF000000
//  then    the colour table: biClrUsed entries, or 2^bitCount when that is 0
//          and the picture has 8 bits or fewer; blue, green, red, reserved;
//          entries past 256 are skipped
//  then    the pixel rows, bottom row first, each padded to 4 bytes; they
//          start at the file header's offset when that lies at or past the
//          end of the table and inside the file, else right after the table.
//
// Compression: BI_RGB (0) rows as stored; BI_RLE8 (1) and BI_RLE4 (2) runs of
// (count, value) with escapes 0 end of line, 1 end of bitmap, 2 delta (dx,
// dy), n >= 3 an absolute run of n pixels padded to an even byte count; runs
// may reach into a row's padding but not past it, nor past the last row;
// BI_BITFIELDS 16- and 32-bit pixels with masks. JPEG and PNG are refused,
// and so are OS/2's Huffman 1D and 24-bit RLE (3 and 4 after an OS/2 2.x
// header).
//
// The loaded DIB is always the plain form: a 40-byte header, bottom-up rows,
// no compression, 16-bit pixels as 5-5-5, 32-bit pixels as 8-8-8-x and
// 2-bit pixels as 4-bit ones with the same indices.
// 16-bit pixels of other bit fields (5-6-5 and the like) become 24-bit
// pixels, each channel scaled to 8 bits from its stored value, so no
// precision is lost on the way. A 32-bit picture with an alpha mask keeps
// its opacity in byte 3, and says so (alphaChannel) unless every pixel is
// fully transparent or every pixel fully opaque.
//
// A BI_RGB bitmap of 1, 2, 4 or 8 bits can also be read without a DIB, a
// band of rows at a time (openBitmapBands), after the same checks: the
// converter's way, which never holds the whole picture.
#include "image/bitmap.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "image/byte_reader.h"
#include "image/file_io.h"

namespace quolb {
namespace {

constexpr std::uint32_t biRgb = 0;
constexpr std::uint32_t biRle8 = 1;
constexpr std::uint32_t biRle4 = 2;
constexpr std::uint32_t biBitfields = 3;
constexpr std::uint32_t biJpeg = 4;
constexpr std::uint32_t biPng = 5;
constexpr std::uint32_t biAlphaBitfields = 6;

constexpr std::size_t fileHeaderSize = 14;
constexpr std::size_t coreHeaderSize = 12;
constexpr std::size_t os2ShortHeaderSize = 16;
constexpr std::size_t os2HeaderSize = 64;
constexpr std::size_t largestInfoHeader = 124;
constexpr std::int64_t largestColorCount = 256;
constexpr std::size_t largestMaskArea = 16;
constexpr std::size_t largestTable = 4 * 256;
// Everything before the pixel data that is ever needed.
constexpr std::size_t largestPrelude = fileHeaderSize + largestInfoHeader + largestMaskArea + largestTable;

bool knownInfoHeaderSize(std::uint32_t size) {
    return size == coreHeaderSize || size == os2ShortHeaderSize || size == 40 || size == 52 || size == 56 ||
           size == os2HeaderSize || size == 108 || size == 124;
}

// The header fields the short headers have, in the 40-byte form.
DibHeader readInfoHeader(std::span<const std::uint8_t> info) {
    if (info.size() >= dibHeaderSize) return readDibHeader(info.first<dibHeaderSize>());
    ByteReader r(info);
    DibHeader h;
    h.biSize = static_cast<std::uint32_t>(info.size());
    r.skip(4);
    if (info.size() == coreHeaderSize) {
        std::uint16_t width = 0, height = 0;
        r.readU16(width);
        r.readU16(height);
        h.biWidth = width;
        h.biHeight = height;
    } else {
        r.readI32(h.biWidth);
        r.readI32(h.biHeight);
    }
    r.readU16(h.biPlanes);
    r.readU16(h.biBitCount);
    return h;
}

// What the headers say, checked.
struct BitmapLayout {
    DibHeader header;                    // the first 40 bytes of the info header
    std::int32_t height = 0;             // rows, always positive
    bool topDown = false;
    std::uint16_t bitCount = 0;          // of the DIB: 2-bit pixels become 4-bit
    std::int32_t colorCount = 0;
    std::vector<std::uint8_t> table;     // 4 x colorCount bytes
    std::array<std::uint32_t, 4> masks{};  // red, green, blue (bit fields only), alpha
    std::int64_t pixelOffset = 0;
    std::int64_t pixelBytes = 0;         // bytes of pixel data in the file
};

int readLayout(std::span<const std::uint8_t> prelude, std::int64_t fileLength, BitmapLayout& out,
               std::string* why) {
    ByteReader r(prelude);
    std::uint32_t offsetField = 0;
    if (!r.skip(10) || !r.readU32(offsetField)) return fail(why, "file ends inside the file header");
    std::uint32_t infoSize = 0;
    if (!r.readU32(infoSize)) return fail(why, "file ends inside the bitmap header");
    if (!knownInfoHeaderSize(infoSize))
        return fail(why, "unknown bitmap header size " + std::to_string(infoSize));
    std::span<const std::uint8_t> info;
    if (!r.seek(fileHeaderSize) || !r.take(infoSize, info)) return fail(why, "file ends inside the bitmap header");

    const DibHeader h = readInfoHeader(info);
    out.header = h;
    const std::uint32_t compression = h.biCompression;
    const bool os2 = infoSize == os2HeaderSize;
    if (os2 && compression == biBitfields) return fail(why, "OS/2 Huffman 1D compression is not supported");
    if (os2 && compression == biJpeg) return fail(why, "OS/2 24-bit RLE compression is not supported");
    if (compression == biJpeg || compression == biPng)
        return fail(why, "JPEG or PNG inside a bitmap is not supported");
    if (compression > biAlphaBitfields)
        return fail(why, "unknown bitmap compression " + std::to_string(compression));
    if (!isDibBitCount(h.biBitCount) && h.biBitCount != 2)
        return fail(why, "unsupported bit count " + std::to_string(h.biBitCount));
    if (h.biBitCount == 2 && compression != biRgb) return fail(why, "2-bit pixels cannot be compressed");
    out.bitCount = h.biBitCount == 2 ? 4 : h.biBitCount;
    if (h.biPlanes != 1) return fail(why, "unsupported plane count " + std::to_string(h.biPlanes));
    if (compression == biRle8 && h.biBitCount != 8) return fail(why, "RLE8 compression needs 8 bits per pixel");
    if (compression == biRle4 && h.biBitCount != 4) return fail(why, "RLE4 compression needs 4 bits per pixel");
    const bool bitfields = compression == biBitfields || compression == biAlphaBitfields;
    if (bitfields && h.biBitCount != 16 && h.biBitCount != 32)
        return fail(why, "bit-field masks need 16 or 32 bits per pixel");

    if (h.biWidth <= 0) return fail(why, "bitmap width is not positive");
    if (h.biHeight == 0) return fail(why, "bitmap height is 0");
    const std::int64_t rows = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
    if (!checkMaxDimension(h.biWidth, rows, why)) return 0;
    out.height = static_cast<std::int32_t>(rows);
    out.topDown = h.biHeight < 0;

    std::int64_t tableEntries = h.biClrUsed != 0 ? std::int64_t{h.biClrUsed}
                                : h.biBitCount <= 8 ? std::int64_t{1} << h.biBitCount
                                                    : 0;

    if (bitfields) {
        ByteReader masks(info.subspan(dibHeaderSize));
        if (infoSize == dibHeaderSize) {
            masks = ByteReader(prelude.subspan(r.position()));
            if (!r.skip(compression == biAlphaBitfields ? 16 : 12))
                return fail(why, "bit-field masks run past the end of the file");
        }
        // Both sources hold at least the three colour masks by now, and
        // the alpha mask when the header has one.
        const bool alpha = infoSize == dibHeaderSize ? compression == biAlphaBitfields : infoSize >= 56;
        for (std::size_t i = 0; i < (alpha ? 4u : 3u); ++i) masks.readU32(out.masks[i]);
    } else if (h.biBitCount == 32 && infoSize >= 56 && !os2 && ByteReader::loadU32(info.data() + 52) == 0xFF000000) {
        out.masks = {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};
    }

    // A core table ends where the pixel data starts when that comes first.
    const std::int64_t entrySize = infoSize == coreHeaderSize ? 3 : 4;
    const auto tableStart = static_cast<std::int64_t>(r.position());
    if (infoSize == coreHeaderSize && offsetField >= tableStart && offsetField < tableStart + entrySize * tableEntries)
        tableEntries = (offsetField - tableStart) / entrySize;
    // Entries past 256 cannot be indexed and only hint at colours: skipped.
    out.colorCount = static_cast<std::int32_t>(std::min(tableEntries, largestColorCount));
    std::span<const std::uint8_t> stored;
    if (!r.take(static_cast<std::size_t>(entrySize * out.colorCount), stored))
        return fail(why, "colour table runs past the end of the file");
    out.table.assign(4 * static_cast<std::size_t>(out.colorCount), 0);
    for (std::size_t i = 0; i < static_cast<std::size_t>(out.colorCount); ++i)
        std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(i * static_cast<std::size_t>(entrySize)), 3,
                    out.table.begin() + static_cast<std::ptrdiff_t>(4 * i));

    const std::int64_t tableEnd = tableStart + entrySize * tableEntries;
    if (tableEnd > fileLength) return fail(why, "colour table runs past the end of the file");
    out.pixelOffset = offsetField >= tableEnd && offsetField < fileLength ? offsetField : tableEnd;
    const std::int64_t available = fileLength - out.pixelOffset;
    if (compression == biRle8 || compression == biRle4) {
        if (h.biSizeImage > available) return fail(why, "pixel data runs past the end of the file");
        out.pixelBytes = h.biSizeImage != 0 ? h.biSizeImage : available;
    } else {
        out.pixelBytes = dibStride(h.biBitCount, h.biWidth) * rows;
        if (out.pixelBytes > available) return fail(why, "pixel data runs past the end of the file");
    }
    return 1;
}

std::uint8_t* rowStart(Picture& picture, std::int64_t stride, std::int64_t row) {
    return picture.dib.data() + dibHeaderSize + 4 * static_cast<std::size_t>(picture.colorCount) +
           static_cast<std::size_t>(row * stride);
}

// 2-bit rows widen to 4 bits, each index into a nibble, row by row.
int readTwoBitRows(Picture& picture, std::FILE* file, const BitmapLayout& layout, std::string* why) {
    if (!seekTo(file, layout.pixelOffset)) return fail(why, "cannot seek to the pixel data");
    const std::int64_t stride = dibStride(4, layout.header.biWidth);
    std::vector<std::uint8_t> in(static_cast<std::size_t>(dibStride(2, layout.header.biWidth)));
    for (std::int64_t row = 0; row < layout.height; ++row) {
        if (std::fread(in.data(), 1, in.size(), file) != in.size())
            return fail(why, "pixel data runs past the end of the file");
        std::uint8_t* out = rowStart(picture, stride, layout.topDown ? layout.height - 1 - row : row);
        for (std::int64_t x = 0; x < layout.header.biWidth; ++x) {
            const auto index = static_cast<unsigned>(in[static_cast<std::size_t>(x / 4)] >> (6 - 2 * (x % 4)) & 3);
            out[x / 2] = static_cast<std::uint8_t>(out[x / 2] | index << (x % 2 == 0 ? 4 : 0));
        }
    }
    return 1;
}

// Uncompressed rows go straight from the file into the DIB; top-down files
// row by row into their flipped places.
int readRows(Picture& picture, std::FILE* file, const BitmapLayout& layout, std::string* why) {
    if (layout.header.biBitCount == 2) return readTwoBitRows(picture, file, layout, why);
    if (!seekTo(file, layout.pixelOffset)) return fail(why, "cannot seek to the pixel data");
    const std::int64_t stride = dibStride(layout.header.biBitCount, layout.header.biWidth);
    const std::int64_t rows = layout.height;
    if (!layout.topDown) {
        const auto bytes = static_cast<std::size_t>(stride * rows);
        if (std::fread(rowStart(picture, stride, 0), 1, bytes, file) != bytes)
            return fail(why, "pixel data runs past the end of the file");
        return 1;
    }
    for (std::int64_t row = rows - 1; row >= 0; --row) {
        const auto bytes = static_cast<std::size_t>(stride);
        if (std::fread(rowStart(picture, stride, row), 1, bytes, file) != bytes)
            return fail(why, "pixel data runs past the end of the file");
    }
    return 1;
}

// RLE data comes from the file in chunks, so a large compressed picture
// costs no more memory than a small one.
struct RleInput {
    static constexpr std::size_t chunkSize = std::size_t{1} << 20;
    // The longest code: an escape and an absolute run of 255 bytes plus padding.
    static constexpr std::size_t longestCode = 2 + 255 + 1;

    std::FILE* file = nullptr;
    std::int64_t left = 0;  // bytes of RLE data still in the file
    std::vector<std::uint8_t> buffer;
    std::size_t start = 0;  // unread bytes are buffer[start, buffer.size())

    // The unread bytes, holding at least one whole code unless the data ends
    // first. False when the file cannot be read.
    bool window(std::span<const std::uint8_t>& out) {
        if (buffer.size() - start < longestCode && left > 0) {
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(start));
            start = 0;
            const std::size_t kept = buffer.size();
            const auto more = static_cast<std::size_t>(std::min<std::int64_t>(left, chunkSize));
            buffer.resize(kept + more);
            if (std::fread(buffer.data() + kept, 1, more, file) != more) return false;
            left -= static_cast<std::int64_t>(more);
        }
        out = std::span<const std::uint8_t>(buffer).subspan(start);
        return true;
    }
};

// Decodes RLE8 or RLE4 data into the DIB's zeroed rows; pixels the data
// skips keep index 0.
int decodeRle(Picture& picture, RleInput& input, const BitmapLayout& layout, std::string* why) {
    const bool fourBit = layout.header.biBitCount == 4;
    const std::int64_t width = layout.header.biWidth;
    const std::int64_t height = layout.height;
    const std::int64_t stride = dibStride(layout.header.biBitCount, width);
    std::int64_t x = 0;
    std::int64_t y = 0;
    // Writers encode whole padded rows, so a run may fill the padding; only
    // the pixels inside the width are kept.
    const std::int64_t rowCapacity = fourBit ? 2 * stride : stride;
    auto currentRow = [&] { return rowStart(picture, stride, layout.topDown ? height - 1 - y : y); };
    auto visible = [&](std::int64_t count) { return std::clamp<std::int64_t>(width - x, 0, count); };
    auto putNibble = [](std::uint8_t* line, std::int64_t at, std::uint8_t index) {
        std::uint8_t& byte = line[at / 2];
        byte = at % 2 == 0 ? static_cast<std::uint8_t>((byte & 0x0F) | index << 4)
                           : static_cast<std::uint8_t>((byte & 0xF0) | (index & 0x0F));
    };
    auto fits = [&](std::int64_t count) {
        if (y >= height) return fail(why, "RLE run goes past the end of the picture");
        if (x + count > rowCapacity) return fail(why, "RLE run goes past the end of the row");
        return 1;
    };
    const char* const endsEarly = "RLE data ends without an end-of-bitmap code";

    for (;;) {
        std::span<const std::uint8_t> window;
        if (!input.window(window)) return fail(why, "pixel data runs past the end of the file");
        ByteReader r(window);
        const auto consumed = [&] { input.start += r.position(); };
        std::uint8_t count = 0;
        std::uint8_t value = 0;
        if (!r.readU8(count) || !r.readU8(value)) return fail(why, endsEarly);
        if (count > 0) {
            if (!fits(count)) return 0;
            std::uint8_t* at = currentRow();
            if (!fourBit) {
                std::fill_n(at + x, visible(count), value);
            } else {
                for (std::int64_t i = 0; i < visible(count); ++i)
                    putNibble(at, x + i, static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F));
            }
            x += count;
            consumed();
            continue;
        }
        switch (value) {
        case 0:  // end of line
            if (y >= height) return fail(why, "RLE run goes past the end of the picture");
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return 1;
        case 2: {  // delta: move right and up
            std::uint8_t dx = 0;
            std::uint8_t dy = 0;
            if (!r.readU8(dx) || !r.readU8(dy)) return fail(why, endsEarly);
            if (x + dx > rowCapacity) return fail(why, "RLE run goes past the end of the row");
            if (y + dy > height) return fail(why, "RLE run goes past the end of the picture");
            x += dx;
            y += dy;
            break;
        }
        default: {  // absolute run of `value` pixels, padded to an even byte count
            if (!fits(value)) return 0;
            const std::size_t bytes = fourBit ? (value + 1u) / 2 : value;
            std::span<const std::uint8_t> run;
            if (!r.take(bytes, run)) return fail(why, endsEarly);
            if (bytes % 2 == 1) r.skip(1);
            std::uint8_t* at = currentRow();
            if (!fourBit) {
                std::copy_n(run.begin(), visible(value), at + x);
            } else {
                for (std::int64_t i = 0; i < visible(value); ++i) {
                    const std::uint8_t byte = run[static_cast<std::size_t>(i / 2)];
                    putNibble(at, x + i, static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F));
                }
            }
            x += value;
            break;
        }
        }
        consumed();
    }
}

int readRle(Picture& picture, std::FILE* file, const BitmapLayout& layout, std::string* why) {
    if (!seekTo(file, layout.pixelOffset)) return fail(why, "cannot seek to the pixel data");
    RleInput input;
    input.file = file;
    input.left = layout.pixelBytes;
    return decodeRle(picture, input, layout, why);
}

// One colour channel of a bit-field pixel.
struct Channel {
    std::uint32_t shift = 0;
    std::uint32_t max = 0;  // the largest value the mask holds; 0 = no such channel

    std::uint32_t scaled(std::uint32_t pixel, std::uint32_t outMax) const {
        if (max == 0) return 0;
        const std::uint64_t value = (pixel >> shift) & max;
        return static_cast<std::uint32_t>((value * outMax + max / 2) / max);
    }
};

int channelFromMask(std::uint32_t mask, Channel& out, std::string* why) {
    if (mask == 0) return 1;
    out.shift = static_cast<std::uint32_t>(std::countr_zero(mask));
    out.max = mask >> out.shift;
    if ((out.max & (out.max + 1)) != 0) return fail(why, "bit-field masks must be contiguous");
    return 1;
}

// An alpha mask that makes no sense is ignored rather than refused: the
// picture still shows without it.
int channelsFromMasks(const BitmapLayout& layout, std::array<Channel, 4>& channels, std::string* why) {
    for (std::size_t i = 0; i < 3; ++i)
        if (!channelFromMask(layout.masks[i], channels[i], why)) return 0;
    if (!channelFromMask(layout.masks[3], channels[3], nullptr)) channels[3] = {};
    return 1;
}

bool plain555(const BitmapLayout& layout) {
    return layout.masks[0] == 0x7C00 && layout.masks[1] == 0x03E0 && layout.masks[2] == 0x001F;
}

// A 16-bit bit-field picture that is not plain 5-5-5 loads as 24 bits.
bool widensTo24(const BitmapLayout& layout) {
    const std::uint32_t c = layout.header.biCompression;
    return layout.header.biBitCount == 16 && (c == biBitfields || c == biAlphaBitfields) && !plain555(layout);
}

// Reads 16-bit bit-field rows into the 24-bit DIB, through one table of
// every 16-bit value's colour.
int readWidenedRows(Picture& picture, std::FILE* file, const BitmapLayout& layout, std::string* why) {
    std::array<Channel, 4> channels{};
    if (!channelsFromMasks(layout, channels, why)) return 0;
    if ((layout.masks[0] | layout.masks[1] | layout.masks[2]) > 0xFFFF)
        return fail(why, "bit-field masks do not fit 16-bit pixels");
    const auto [red, green, blue, alpha] = channels;
    std::vector<std::uint32_t> colour(65536);
    for (std::uint32_t pixel = 0; pixel < colour.size(); ++pixel)
        colour[pixel] = red.scaled(pixel, 255) << 16 | green.scaled(pixel, 255) << 8 | blue.scaled(pixel, 255);
    if (!seekTo(file, layout.pixelOffset)) return fail(why, "cannot seek to the pixel data");
    const auto fileStride = static_cast<std::size_t>(dibStride(16, layout.header.biWidth));
    const std::int64_t stride = dibStride(24, layout.header.biWidth);
    const auto width = static_cast<std::size_t>(picture.width);
    std::vector<std::uint8_t> line(fileStride);
    for (std::int64_t i = 0; i < layout.height; ++i) {
        if (std::fread(line.data(), 1, fileStride, file) != fileStride)
            return fail(why, "pixel data runs past the end of the file");
        std::uint8_t* out = rowStart(picture, stride, layout.topDown ? layout.height - 1 - i : i);
        for (std::size_t x = 0; x < width; ++x, out += 3) {
            const std::uint32_t c = colour[std::size_t{line[2 * x]} | std::size_t{line[2 * x + 1]} << 8];
            out[0] = static_cast<std::uint8_t>(c);
            out[1] = static_cast<std::uint8_t>(c >> 8);
            out[2] = static_cast<std::uint8_t>(c >> 16);
        }
    }
    return 1;
}

// Rewrites 32-bit bit-field pixels in place as 8-8-8-alpha (alpha 0 when
// there is no alpha mask). Plain 5-5-5 pixels stay as they are.
int convertBitfields(Picture& picture, const BitmapLayout& layout, std::string* why) {
    std::array<Channel, 4> channels{};
    if (!channelsFromMasks(layout, channels, why)) return 0;
    if (layout.header.biBitCount == 16) return 1;
    const auto [red, green, blue, alpha] = channels;
    if (layout.masks[0] == 0xFF0000 && layout.masks[1] == 0x00FF00 && layout.masks[2] == 0x0000FF &&
        (layout.masks[3] == 0 || layout.masks[3] == 0xFF000000))
        return 1;
    std::uint8_t* p = rowStart(picture, 0, 0);
    const auto width = static_cast<std::size_t>(picture.width);
    for (std::size_t i = 0; i < width * static_cast<std::size_t>(picture.height); ++i, p += 4) {
        const std::uint32_t pixel = ByteReader::loadU32(p);
        p[0] = static_cast<std::uint8_t>(blue.scaled(pixel, 255));
        p[1] = static_cast<std::uint8_t>(green.scaled(pixel, 255));
        p[2] = static_cast<std::uint8_t>(red.scaled(pixel, 255));
        p[3] = static_cast<std::uint8_t>(alpha.scaled(pixel, 255));
    }
    return 1;
}

// Opacity that is all 0 or all 255 says nothing: such files are opaque.
void noteAlpha(Picture& picture, const BitmapLayout& layout) {
    if (layout.header.biBitCount != 32 || layout.masks[3] == 0) return;
    const std::uint8_t* p = rowStart(picture, 0, 0);
    const std::size_t pixels = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    bool clear = false, opaque = false;
    for (std::size_t i = 0; i < pixels && !(clear && opaque); ++i, p += 4) {
        clear = clear || p[3] != 255;
        opaque = opaque || p[3] != 0;
    }
    picture.alphaChannel = clear && opaque ? 1 : 0;
}

int loadPixels(Picture& picture, std::FILE* file, const BitmapLayout& layout, std::string* why) {
    switch (layout.header.biCompression) {
    case biRle8:
    case biRle4: return readRle(picture, file, layout, why);
    case biBitfields:
    case biAlphaBitfields:
        if (widensTo24(layout)) return readWidenedRows(picture, file, layout, why);
        return readRows(picture, file, layout, why) && convertBitfields(picture, layout, why);
    default: return readRows(picture, file, layout, why);
    }
}

// The headers, masks and table are small: read them in one go and parse
// them from memory, so a short file shows up as a failed bounded read.
int readHeaders(std::FILE* file, std::int64_t fileLength, BitmapLayout& layout, std::string* why) {
    std::vector<std::uint8_t> prelude(static_cast<std::size_t>(
        std::min<std::int64_t>(std::max<std::int64_t>(fileLength, 0), largestPrelude)));
    if (!seekTo(file, 0) || std::fread(prelude.data(), 1, prelude.size(), file) != prelude.size())
        return fail(why, "cannot read the file");
    return readLayout(prelude, fileLength, layout, why);
}

// The file's header, field by field, but in the one form the DIB holds, and
// its colour table; the DIB's header and table are allocated.
void storeHead(Picture& picture, const BitmapLayout& layout, std::uint16_t bitCount) {
    const DibHeader& h = layout.header;
    DibHeader stored = h;
    stored.biSize = dibHeaderSize;
    stored.biHeight = layout.height;
    stored.biCompression = biRgb;
    stored.biBitCount = bitCount;
    if (h.biClrUsed != 0 || layout.colorCount != (bitCount <= 8 ? 1 << bitCount : 0))
        stored.biClrUsed = static_cast<std::uint32_t>(layout.colorCount);
    if (h.biCompression == biRle8 || h.biCompression == biRle4 || bitCount != h.biBitCount || h.biSize < dibHeaderSize)
        stored.biSizeImage = static_cast<std::uint32_t>(picture.imageSize);
    storeDibHeader(stored, std::span<std::uint8_t, dibHeaderSize>(picture.dib.data(), dibHeaderSize));
    std::copy(layout.table.begin(), layout.table.end(), picture.dib.begin() + dibHeaderSize);
}

}  // namespace

int loadBitmap(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why) {
    BitmapLayout layout;
    if (!readHeaders(file, fileLength, layout, why)) return 0;
    const std::uint16_t bitCount = widensTo24(layout) ? std::uint16_t{24} : layout.bitCount;
    if (!allocateDib(picture, layout.header.biWidth, layout.height, bitCount, layout.colorCount, why)) return 0;
    storeHead(picture, layout, bitCount);

    if (!loadPixels(picture, file, layout, why)) {
        releasePicture(picture);
        return 0;
    }
    noteAlpha(picture, layout);
    buildPalette(picture);
    return 1;
}

int openBitmapBands(const Picture& picture, std::FILE* file, std::int64_t fileLength, BitmapBands& bands,
                    std::string* why) {
    BitmapLayout layout;
    if (!readHeaders(file, fileLength, layout, why)) return 0;
    const DibHeader& h = layout.header;
    if (h.biCompression != biRgb || h.biBitCount > 8) return fail(why, "the rows are not stored plainly in 8 bits or fewer");
    if (!checkDibShape(picture, h.biWidth, layout.height, layout.bitCount, layout.colorCount, why)) return 0;

    Picture& head = bands.head;
    head.dib.assign(dibHeaderSize + 4 * static_cast<std::size_t>(layout.colorCount), 0);
    head.width = h.biWidth;
    head.height = layout.height;
    head.imageSize = static_cast<std::int32_t>(dibStride(layout.bitCount, h.biWidth) * layout.height);
    head.colorCount = layout.colorCount;
    storeHead(head, layout, layout.bitCount);
    buildPalette(head);
    bands.file = file;
    bands.pixelOffset = layout.pixelOffset;
    bands.stride = dibStride(h.biBitCount, h.biWidth);
    bands.bitCount = h.biBitCount;
    bands.topDown = layout.topDown;
    return 1;
}

int readBitmapRows(const BitmapBands& bands, const std::function<bool(std::span<const std::uint8_t>)>& use,
                   std::string* why) {
    // Bands small enough to be used while still in the cache; the top row
    // comes first, from the file's end when its rows go bottom-up.
    constexpr std::int64_t bandBytes = 256 * 1024;
    const std::int64_t height = bands.head.height;
    const auto width = static_cast<std::size_t>(bands.head.width);
    const auto stride = static_cast<std::size_t>(bands.stride);
    const std::int64_t bandRows = std::clamp<std::int64_t>(bandBytes / bands.stride, 1, height);
    std::unique_ptr<std::uint8_t[]> band;
    std::vector<std::uint8_t> indices;
    try {
        band = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(bandRows) * stride);
        indices.resize(bands.bitCount == 8 ? 0 : width);
    } catch (const std::bad_alloc&) {
        return fail(why, "not enough memory for the picture");
    }
    for (std::int64_t done = 0; done < height;) {
        const std::int64_t rows = std::min(bandRows, height - done);
        const std::int64_t first = bands.topDown ? done : height - done - rows;  // in the file's order
        const auto bytes = static_cast<std::size_t>(rows) * stride;
        if (!seekTo(bands.file, bands.pixelOffset + first * bands.stride) ||
            std::fread(band.get(), 1, bytes, bands.file) != bytes)
            return fail(why, "pixel data runs past the end of the file");
        for (std::int64_t i = 0; i < rows; ++i) {
            const std::uint8_t* row = band.get() + static_cast<std::size_t>(bands.topDown ? i : rows - 1 - i) * stride;
            std::span<const std::uint8_t> rowIndices(row, width);
            if (bands.bitCount != 8) {
                unpackIndices(row, bands.bitCount, indices);
                rowIndices = indices;
            }
            if (!use(rowIndices)) return 1;
        }
        done += rows;
    }
    return 1;
}

}  // namespace quolb
