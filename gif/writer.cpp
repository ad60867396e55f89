// GIF89a as this program writes it: one image, uncompressed unless asked.
//
//   0    "GIF89a"
//   6    logical screen: width, height (16 bits each), 0xF7 (a 256-entry
//        global table), background 0, aspect byte 0x31
//   13   global colour table: 256 x red, green, blue; the picture's table,
//        black past its end, or DefaultPalette when it has none
//   781  graphic control extension: 21 F9 04, flags (bit 0: transparent),
//        delay 0, transparent index, 00
//   789  image descriptor: 2C, left 0, top 0, width, height, flags 0
//   799  LZW minimum code size 8
//   800  the code stream in sub-blocks (each a length byte and up to 255
//        bytes): every pixel a 9-bit literal, a clear code (256) after
//        every 253 pixel codes when another follows, the end code 257;
//        never compressed, and a decoder's table never needs 10-bit codes
//        then 00 (block terminator) and 3B (trailer)
//
// Compressed (GifOptions::lzw), the table keeps the smallest power of two of
// entries, 2^k, that holds every index used (byte 10 becomes 0xF0 | k - 1),
// everything after it moves up, the minimum code size is k but at least 2,
// and the code stream is LZW (gif/lzw.h). Whenever that file would not be
// smaller, the uncompressed one above is written instead.
//
// Pixels go out top row first; the DIB holds its rows bottom-up. Pictures of
// 1, 4 or 8 bits send their indices into their own table; 16-, 24- and
// 32-bit pictures get a table and indices from the quantizer.
#include "gif/writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "image/bitmap.h"
#include "image/byte_reader.h"
#include "gif/lzw.h"
#include "gif/packer.h"
#include "gif/quantizer.h"
#include "gif/save_file.h"

namespace quolb {
namespace {

constexpr int minimumCodeSize = 8;
constexpr int codeWidth = minimumCodeSize + 1;
constexpr int clearCode = 1 << minimumCodeSize;
constexpr int endCode = clearCode + 1;
constexpr int clearLimit = clearCode - 3;  // keeps a decoder's table below 512 entries
// Large writes cost less each; 2 MiB keeps the converter's memory small.
constexpr std::uint64_t sinkCapacity = std::uint64_t{2} << 20;

using ColourTable = std::array<std::uint8_t, 3 * 256>;  // red, green, blue

struct PixelLayout {
    int bitCount = 0;
    std::size_t rowsOffset = 0;  // of the bottom row, in the DIB
    std::size_t stride = 0;
};

int checkPicture(const Picture& picture, PixelLayout& layout, std::string* why) {
    if (picture.dib.empty()) return fail(why, "there is no picture to save");
    if (picture.width <= 0 || picture.height <= 0) return fail(why, "the picture has no pixels");
    if (!checkMaxDimension(picture.width, picture.height, why)) return 0;
    if (picture.colorCount < 0 || picture.imageSize <= 0 || picture.dib.size() < dibHeaderSize)
        return fail(why, "the picture's sizes do not fit its data");
    const DibHeader header = pictureHeader(picture);
    if (header.biCompression != 0) return fail(why, "the picture's pixels are not stored plainly");
    if (!isDibBitCount(header.biBitCount)) return fail(why, "the picture's bit count cannot be saved");
    layout.bitCount = header.biBitCount;
    layout.rowsOffset = dibHeaderSize + 4 * static_cast<std::size_t>(picture.colorCount);
    layout.stride = static_cast<std::size_t>(picture.imageSize / picture.height);
    const auto rowBytes = static_cast<std::size_t>((std::int64_t{layout.bitCount} * picture.width + 7) / 8);
    const std::uint64_t end = layout.rowsOffset + std::uint64_t{layout.stride} * static_cast<std::uint64_t>(picture.height);
    if (layout.stride < rowBytes || end > picture.dib.size())
        return fail(why, "the picture's sizes do not fit its data");
    return 1;
}

ColourTable buildColourTable(const Picture& picture) {
    ColourTable table{};
    const std::vector<PaletteEntry> colours = pictureColours(picture);
    for (std::size_t i = 0; i < std::min<std::size_t>(colours.size(), 256); ++i) {
        table[3 * i] = colours[i].red;
        table[3 * i + 1] = colours[i].green;
        table[3 * i + 2] = colours[i].blue;
    }
    return table;
}

std::uint8_t transparentIndex(const ColourTable& table, TransparentColour colour) {
    for (std::size_t i = 0; i < 256; ++i)
        if (table[3 * i] == colour.red && table[3 * i + 1] == colour.green && table[3 * i + 2] == colour.blue)
            return static_cast<std::uint8_t>(i);
    return 0;
}

// Each byte's pixels as indices, leftmost first: a byte at a time beats a
// pixel at a time.
template <unsigned bits>
constexpr auto byteIndices = [] {
    constexpr unsigned perByte = 8 / bits;
    std::array<std::array<std::uint8_t, perByte>, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte)
        for (unsigned i = 0; i < perByte; ++i)
            table[byte][i] = static_cast<std::uint8_t>(byte >> (8 - bits * (i + 1)) & ((1u << bits) - 1));
    return table;
}();

template <unsigned bits>
void unpackRow(const std::uint8_t* row, std::span<std::uint8_t> out) {
    constexpr std::size_t perByte = 8 / bits;
    const std::size_t whole = out.size() / perByte;
    std::uint8_t* to = out.data();
    for (std::size_t i = 0; i < whole; ++i, to += perByte) std::memcpy(to, byteIndices<bits>[row[i]].data(), perByte);
    if (out.size() % perByte) std::memcpy(to, byteIndices<bits>[row[whole]].data(), out.size() % perByte);
}

// Turns one DIB row of 1 or 4 bits into one index per pixel.
void rowIndices(const std::uint8_t* row, int bitCount, std::span<std::uint8_t> out) {
    if (bitCount == 1)
        unpackRow<1>(row, out);
    else
        unpackRow<4>(row, out);
}

// Bytes 0 to 799: screen, colour table, control extension, image descriptor
// and the minimum code size.
std::array<std::uint8_t, 800> buildHead(const Picture& picture, const ColourTable& table, int transparentGif,
                                        std::uint8_t transparent) {
    std::array<std::uint8_t, 800> head{};
    std::uint8_t* p = head.data();
    const auto width = static_cast<std::uint16_t>(picture.width);
    const auto height = static_cast<std::uint16_t>(picture.height);
    std::memcpy(p, "GIF89a", 6);
    storeU16(p + 6, width);
    storeU16(p + 8, height);
    p[10] = 0xF7;
    p[11] = 0;
    p[12] = 0x31;
    std::memcpy(p + 13, table.data(), table.size());
    const std::uint8_t control[8] = {0x21, 0xF9, 4, static_cast<std::uint8_t>(transparentGif ? 1 : 0), 0, 0,
                                     transparent, 0};
    std::memcpy(p + 781, control, sizeof control);
    p[789] = 0x2C;
    storeU16(p + 794, width);
    storeU16(p + 796, height);
    p[798] = 0;
    p[799] = static_cast<std::uint8_t>(minimumCodeSize);
    return head;
}

// The whole file's length, so small files get a small buffer.
std::uint64_t fileLength(const Picture& picture) {
    const std::uint64_t pixels = std::uint64_t(static_cast<std::uint32_t>(picture.width)) * static_cast<std::uint32_t>(picture.height);
    const std::uint64_t clears = pixels == 0 ? 0 : (pixels - 1) / clearLimit;
    const std::uint64_t bytes = (9 * (pixels + clears + 1) + 7) / 8;
    return 802 + bytes + (bytes + 254) / 255;
}

// Calls `use` with each row's indices, top row first, until it returns
// false. Pictures of more than 8 bits take theirs from the quantization.
template <typename Use>
void forEachRow(const Picture& picture, const PixelLayout& layout, Quantization* quantization, Use use) {
    const auto width = static_cast<std::size_t>(picture.width);
    std::vector<std::uint8_t> indices(layout.bitCount == 8 ? 0 : width);
    if (quantization) restartMapping(*quantization);
    for (std::int32_t r = picture.height - 1; r >= 0; --r) {
        const std::uint8_t* row = picture.dib.data() + layout.rowsOffset + static_cast<std::size_t>(r) * layout.stride;
        if (layout.bitCount == 8) {
            if (!use(std::span(row, width))) return;
            continue;
        }
        if (quantization)
            mapNextRow(*quantization, indices);
        else
            rowIndices(row, layout.bitCount, indices);
        if (!use(std::span<const std::uint8_t>(indices))) return;
    }
}

const std::uint8_t fileTail[2] = {0, 0x3B};  // block terminator, trailer

void startImageData(GifCodeStream& stream) {
    reset(stream);
    stream.clearCode = clearCode;
    stream.clearLimit = clearLimit;
}

void finishImageData(GifCodeStream& stream, GifSink& sink) {
    finish(stream, sink, endCode, codeWidth);
    sinkWrite(sink, fileTail, sizeof fileTail);
}

// Everything after the head goes through the packer.
void writeImageData(const Picture& picture, const PixelLayout& layout, Quantization* quantization,
                    GifCodeStream& stream, GifSink& sink) {
    startImageData(stream);
    forEachRow(picture, layout, quantization, [&](std::span<const std::uint8_t> indices) {
        putLiteralCodes(stream, sink, indices);
        return true;
    });
    finishImageData(stream, sink);
}

// Writes a file of `length` bytes that `write` sends to the sink (1 when
// it sent them all; else 0 with the reason in its `why`). A new file beside
// the target replaces it only once complete, so a failed save leaves the
// old file whole. Devices and pipes are written in place: there is nothing
// to keep and they must not be replaced.
template <typename Write>
int saveGif(const char* path, std::uint64_t length, std::string* why, Write write) {
    const std::string target = path;
    const bool inPlace = isSpecialFile(target);
    std::string tempPath;
    FilePtr file = inPlace ? openFile(path, "wb") : createFileBeside(target, tempPath);
    if (!file) return fail(why, "cannot create the GIF file");

    GifSink sink;
    sink.file = file.get();
    std::setvbuf(sink.file, nullptr, _IONBF, 0);  // the sink already writes in large pieces
    std::string reason = "disk full or write error while writing the GIF";
    bool written = true;
    try {
        sink.capacity = static_cast<std::size_t>(std::min<std::uint64_t>(length, sinkCapacity));
        sink.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(sink.capacity);
        written = write(sink, &reason) == 1;
    } catch (const std::bad_alloc&) {
        written = false;
    }
    written = written && sinkFlush(sink) && std::fflush(file.get()) == 0;
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        if (!inPlace) std::remove(tempPath.c_str());
        return fail(why, reason);
    }
    if (!inPlace && !replaceFile(tempPath, target)) {
        std::remove(tempPath.c_str());
        return fail(why, "cannot replace the GIF file");
    }
    return 1;
}

// The compressed file but its tail, held in memory until it is known to
// be the smaller one.
struct CompressedImage {
    std::vector<std::uint8_t> head;  // up to the minimum code size
    GifSink data;                    // the sub-blocks
};

int usedTableBits(const Picture& picture, const PixelLayout& layout, Quantization* quantization) {
    unsigned used = 0;  // every index or'ed: as many bits as the largest
    if (quantization)   // its indices are below the count of entries it uses
        return std::max(1, static_cast<int>(std::bit_width(static_cast<unsigned>(quantization->colourCount - 1))));
    forEachRow(picture, layout, quantization, [&](std::span<const std::uint8_t> indices) {
        for (const std::uint8_t index : indices) used |= index;
        return used < 0x80;
    });
    return std::max(1, static_cast<int>(std::bit_width(used)));
}

// The head with the table cut to 2^tableBits entries.
std::vector<std::uint8_t> shrinkHead(const std::array<std::uint8_t, 800>& head, int tableBits, int codeSize) {
    const std::size_t tableLength = 3 * (std::size_t{1} << tableBits);
    std::vector<std::uint8_t> shrunk(head.begin(), head.begin() + 13 + static_cast<std::ptrdiff_t>(tableLength));
    shrunk[10] = static_cast<std::uint8_t>(0xF0 | (tableBits - 1));
    shrunk.insert(shrunk.end(), head.begin() + 781, head.end());
    shrunk.back() = static_cast<std::uint8_t>(codeSize);
    return shrunk;
}

// Compresses the picture; false when the whole file would not come out
// smaller than the uncompressed one (or memory ran short), which is then
// written instead.
bool compressImage(const Picture& picture, const PixelLayout& layout, Quantization* quantization,
                   const std::array<std::uint8_t, 800>& head, CompressedImage& out) {
    try {
        const int tableBits = usedTableBits(picture, layout, quantization);
        const int codeSize = std::max(2, tableBits);
        out.head = shrinkHead(head, tableBits, codeSize);
        const std::uint64_t plain = fileLength(picture);
        const std::uint64_t frame = out.head.size() + sizeof fileTail;
        LzwEncoder encoder;
        lzwBegin(encoder, codeSize);
        bool small = true;
        forEachRow(picture, layout, quantization, [&](std::span<const std::uint8_t> indices) {
            lzwFeed(encoder, out.data, indices);
            return small = frame + out.data.used < plain;
        });
        if (!small) return false;
        lzwFinish(encoder, out.data);
        return frame + out.data.used < plain;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

int writeGif(const Picture& picture, const char* path, int transparentGif, TransparentColour transparentColour,
             std::string* why, const GifOptions& options) {
    PixelLayout layout;
    if (!checkPicture(picture, layout, why)) return 0;
    if (!path || !*path) return fail(why, "no file name to save to");

    // Pictures with indices keep their own table; deeper ones get a table
    // made for their colours (the table such a file may carry is only a
    // hint for displays with few colours).
    ColourTable table{};
    std::uint8_t transparent = 0;
    std::unique_ptr<Quantization> quantization;
    if (layout.bitCount > 8) {
        TrueColourRows rows;
        rows.bottomRow = picture.dib.data() + layout.rowsOffset;
        rows.stride = layout.stride;
        rows.width = static_cast<std::size_t>(picture.width);
        rows.height = static_cast<std::size_t>(picture.height);
        rows.bitCount = layout.bitCount;
        rows.hasKey = transparentGif != 0;
        rows.key = {transparentColour.red, transparentColour.green, transparentColour.blue};
        rows.alpha = !rows.hasKey && options.alphaTransparency && picture.alphaChannel != 0 && layout.bitCount == 32;
        try {
            quantization = std::make_unique<Quantization>();
            quantize(rows, options.palette == GifPalette::fixed ? TableChoice::fixed : TableChoice::adaptive,
                     options.dither, *quantization);
        } catch (const std::bad_alloc&) {
            return fail(why, "not enough memory to choose the GIF's colours");
        }
        table = quantization->table;
        transparentGif = quantization->transparentIndex >= 0 ? 1 : 0;
        transparent = static_cast<std::uint8_t>(std::max(quantization->transparentIndex, 0));
    } else {
        table = buildColourTable(picture);
        transparent = transparentIndex(table, transparentColour);
    }
    const auto head = buildHead(picture, table, transparentGif, transparent);
    CompressedImage compressed;
    const bool lzw = options.lzw && compressImage(picture, layout, quantization.get(), head, compressed);

    return saveGif(path, fileLength(picture), why, [&](GifSink& sink, std::string*) {
        if (lzw) {
            sinkWrite(sink, compressed.head.data(), compressed.head.size());
            sinkWrite(sink, compressed.data.buffer.get(), compressed.data.used);
            sinkWrite(sink, fileTail, sizeof fileTail);
        } else {
            sinkWrite(sink, head.data(), head.size());
            GifCodeStream stream;
            writeImageData(picture, layout, quantization.get(), stream, sink);
        }
        return 1;
    });
}

int writeGif(BitmapBands& bands, const char* path, int transparentGif, TransparentColour transparentColour,
             std::string* why) {
    if (!path || !*path) return fail(why, "no file name to save to");
    const Picture& picture = bands.head;
    const ColourTable table = buildColourTable(picture);
    const auto head = buildHead(picture, table, transparentGif, transparentIndex(table, transparentColour));
    const int bitCount = pictureHeader(picture).biBitCount;
    const auto width = static_cast<std::size_t>(picture.width);
    const auto stride = static_cast<std::size_t>(bands.stride);
    // Bands small enough to be packed while still in the cache.
    const std::int64_t bandRows = std::max<std::int64_t>(1, std::int64_t{256 * 1024} / bands.stride);
    return saveGif(path, fileLength(picture), why, [&](GifSink& sink, std::string* reason) {
        sinkWrite(sink, head.data(), head.size());
        std::vector<std::uint8_t> band(static_cast<std::size_t>(std::min<std::int64_t>(bandRows, picture.height)) * stride);
        std::vector<std::uint8_t> indices(bitCount == 8 ? 0 : width);
        GifCodeStream stream;
        startImageData(stream);
        // Top row first: from the file's start when it holds the rows top-down, else from its end.
        for (std::int64_t done = 0; done < picture.height;) {
            const std::int64_t rows = std::min<std::int64_t>(bandRows, picture.height - done);
            const std::int64_t first = bands.topDown ? done : picture.height - done - rows;
            if (!readBitmapBand(bands, first, rows, band.data(), reason)) return 0;
            for (std::int64_t i = 0; i < rows; ++i) {
                const std::uint8_t* row = band.data() + static_cast<std::size_t>(bands.topDown ? i : rows - 1 - i) * stride;
                if (bitCount == 8) {
                    putLiteralCodes(stream, sink, std::span(row, width));
                } else {
                    rowIndices(row, bitCount, indices);
                    putLiteralCodes(stream, sink, indices);
                }
            }
            done += rows;
        }
        finishImageData(stream, sink);
        return 1;
    });
}

}  // namespace quolb
