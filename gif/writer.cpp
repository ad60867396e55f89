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
// 1, 4 or 8 bits send their indices into their own table (a pixel of an
// entry that repeats the transparent colour takes the transparent index);
// 16-, 24- and 32-bit pictures get a table and indices from the quantizer.
#include "gif/writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

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
// Large writes cost less each; 2 MiB is a small part of the converter's memory.
constexpr std::uint64_t sinkCapacity = std::uint64_t{2} << 20;

using ColourTable = std::array<std::uint8_t, 3 * 256>;  // red, green, blue

struct PixelLayout {
    int bitCount = 0;
    std::size_t rowsOffset = 0;  // of the bottom row, in the DIB
    std::size_t stride = 0;
};

// A streamed picture's DIB holds its header and colour table only.
int checkStreamed(const StreamedPicture& picture, PixelLayout& layout, std::string* why) {
    const Picture& head = *picture.head;
    if (head.dib.size() < dibHeaderSize || head.colorCount < 0 || head.colorCount > 256 ||
        head.dib.size() < dibHeaderSize + 4 * static_cast<std::size_t>(head.colorCount) || !picture.rows)
        return fail(why, "there is no picture to save");
    if (head.width <= 0 || head.height <= 0) return fail(why, "the picture has no pixels");
    if (!checkMaxDimension(head.width, head.height, why)) return 0;
    const DibHeader header = pictureHeader(head);
    if (header.biCompression != 0 || header.biBitCount > 8 || !isDibBitCount(header.biBitCount))
        return fail(why, "the picture's bit count cannot be saved");
    layout.bitCount = header.biBitCount;
    return 1;
}

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

// A GIF names one transparent index, so pixels of other entries holding the
// transparent colour move to it; the identity when the table has no such
// duplicate. Only for pictures that send their own indices.
struct IndexRemap {
    bool needed = false;
    std::array<std::uint8_t, 256> to{};
};

IndexRemap duplicatesToTransparent(const ColourTable& table, int transparentGif, std::uint8_t transparent) {
    IndexRemap remap;
    for (std::size_t i = 0; i < 256; ++i) {
        remap.to[i] = static_cast<std::uint8_t>(i);
        if (transparentGif && i != transparent && std::equal(&table[3 * i], &table[3 * i + 3], &table[3 * transparent])) {
            remap.to[i] = transparent;
            remap.needed = true;
        }
    }
    return remap;
}

// `from`'s indices through the remap into `to`, which may be `from`.
std::span<const std::uint8_t> remapInto(const IndexRemap& remap, std::span<const std::uint8_t> from,
                                        std::span<std::uint8_t> to) {
    std::transform(from.begin(), from.end(), to.begin(), [&](std::uint8_t i) { return remap.to[i]; });
    return to.first(from.size());
}

// How the picture's rows become indices: pictures of more than 8 bits take
// theirs from the quantization, the others send their own, remapped, from
// the DIB or, for a streamed picture, as they arrive.
struct IndexSource {
    Quantization* quantization = nullptr;
    IndexRemap remap;
    const StreamedPicture* streamed = nullptr;
    std::string failure;  // why the streamed rows stopped coming
};

// Row `top` (0 is the top) of a picture that sends its own indices: the
// DIB's row itself, or its indices unpacked or remapped into `scratch`.
std::span<const std::uint8_t> ownRow(const Picture& picture, const PixelLayout& layout, const IndexRemap& remap,
                                     std::size_t top, std::span<std::uint8_t> scratch) {
    const auto width = static_cast<std::size_t>(picture.width);
    const std::uint8_t* row =
        picture.dib.data() + layout.rowsOffset + (static_cast<std::size_t>(picture.height) - 1 - top) * layout.stride;
    std::span<const std::uint8_t> indices(row, width);
#if defined(__GNUC__) || defined(__clang__)
    // The next row is asked for while this one is packed: rows go out
    // bottom-up through the DIB, so each starts on a page the processor's
    // own prefetching has not seen.
    if (top + 1 < static_cast<std::size_t>(picture.height)) {
        const std::size_t rowBytes = (width * static_cast<std::size_t>(layout.bitCount) + 7) / 8;
        for (std::size_t at = 0; at < rowBytes; at += 64) __builtin_prefetch(row - layout.stride + at);
    }
#endif
    if (layout.bitCount != 8) {
        unpackIndices(row, layout.bitCount, scratch.first(width));
        indices = scratch.first(width);
    }
    return remap.needed ? remapInto(remap, indices, scratch) : indices;
}

// Calls `use` with each row's indices, top row first, until it returns
// false. False when the rows could not be had (source.failure says why).
template <typename Use>
bool forEachRow(const Picture& picture, const PixelLayout& layout, IndexSource& source, Use use) {
    const auto width = static_cast<std::size_t>(picture.width);
    std::vector<std::uint8_t> indices(layout.bitCount == 8 && !source.remap.needed && !source.quantization ? 0 : width);
    if (source.streamed) {
        const auto remapped = [&](std::span<const std::uint8_t> row) {
            return use(source.remap.needed ? remapInto(source.remap, row, indices) : row);
        };
        return source.streamed->rows(remapped, &source.failure) == 1;
    }
    if (source.quantization) restartMapping(*source.quantization);
    for (std::size_t top = 0; top < static_cast<std::size_t>(picture.height); ++top) {
        if (source.quantization) mapNextRow(*source.quantization, indices);
        if (!use(source.quantization ? std::span<const std::uint8_t>(indices)
                                     : ownRow(picture, layout, source.remap, top, indices)))
            return true;
    }
    return true;
}

const std::uint8_t fileTail[2] = {0, 0x3B};  // block terminator, trailer

// Everything after the head goes through the packer. False when the rows
// could not be had.
bool writeImageData(const Picture& picture, const PixelLayout& layout, IndexSource& source, GifCodeStream& stream,
                    GifSink& sink) {
    reset(stream);
    stream.clearCode = clearCode;
    stream.clearLimit = clearLimit;
    const bool read = forEachRow(picture, layout, source, [&](std::span<const std::uint8_t> indices) {
        putLiteralCodes(stream, sink, indices);
        return true;
    });
    finish(stream, sink, endCode, codeWidth);
    sinkWrite(sink, fileTail, sizeof fileTail);
    return read;
}

// The compressed file but its tail, held in memory until it is known to
// be the smaller one.
struct CompressedImage {
    std::vector<std::uint8_t> head;  // up to the minimum code size
    GifSink data;                    // the sub-blocks
};

int usedTableBits(const Picture& picture, const PixelLayout& layout, IndexSource& source) {
    unsigned used = 0;           // every index or'ed: as many bits as the largest
    if (source.quantization)     // its indices are below the count of entries it uses
        return std::max(1, static_cast<int>(std::bit_width(static_cast<unsigned>(source.quantization->colourCount - 1))));
    forEachRow(picture, layout, source, [&](std::span<const std::uint8_t> indices) {
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
bool compressImage(const Picture& picture, const PixelLayout& layout, IndexSource& source,
                   const std::array<std::uint8_t, 800>& head, CompressedImage& out) {
    try {
        const int tableBits = usedTableBits(picture, layout, source);
        const int codeSize = std::max(2, tableBits);
        out.head = shrinkHead(head, tableBits, codeSize);
        const std::uint64_t plain = fileLength(picture);
        const std::uint64_t frame = out.head.size() + sizeof fileTail;
        // Quantized rows are mapped top to bottom, so they come in order;
        // a picture's own rows can be had in any order, by both halves.
        const bool inOrder = source.quantization != nullptr;
        if (inOrder) restartMapping(*source.quantization);
        const LzwRows rows = [&](std::size_t top, std::span<std::uint8_t> scratch) -> std::span<const std::uint8_t> {
            if (!inOrder) return ownRow(picture, layout, source.remap, top, scratch);
            mapNextRow(*source.quantization, scratch);
            return scratch;
        };
        // Only a file smaller than the plain one is of use.
        return lzwCompress(out.data, codeSize, static_cast<std::size_t>(picture.width),
                           static_cast<std::size_t>(picture.height), rows, inOrder, plain - frame);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Everything decided before the first byte goes out: the table, how rows
// become indices and, when asked for and smaller, the compressed image.
struct PreparedGif {
    std::unique_ptr<Quantization> quantization;
    IndexSource source;
    std::array<std::uint8_t, 800> head{};
    CompressedImage compressed;
    bool lzw = false;
};

// The picture as 8-bit indices in which exactly the pixels stored as 0x0000
// share one index, whose table entry gets a colour no other entry has so
// the writer can find it by colour. `any` stays false when the picture has
// no such pixels; it is then written as it is.
int zeroTransparentIndices(const Picture& picture, const PixelLayout& layout, Picture& out,
                           TransparentColour& marker, bool& any, std::string* why) {
    any = false;
    const auto width = static_cast<std::size_t>(picture.width);
    const auto height = static_cast<std::size_t>(picture.height);
    const bool indexed = layout.bitCount <= 8 && picture.colorCount > 0;
    if (indexed ? picture.zeroEntries.none()
                : layout.bitCount != 24 || picture.zeroPixels.size() != width * height)
        return 1;

    std::vector<std::uint32_t> colours;  // red << 16 | green << 8 | blue, in table order
    std::vector<std::uint8_t> indices(width * height);
    int zero = -1;
    if (indexed) {
        const std::vector<PaletteEntry> entries = pictureColours(picture);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const PaletteEntry e = entries[i];
            colours.push_back(std::uint32_t{e.red} << 16 | std::uint32_t{e.green} << 8 | e.blue);
            if (zero < 0 && picture.zeroEntries[i]) zero = static_cast<int>(i);
        }
        std::vector<std::uint8_t> row(width);
        for (std::size_t y = 0; y < height; ++y) {
            const std::uint8_t* in = picture.dib.data() + layout.rowsOffset + (height - 1 - y) * layout.stride;
            if (layout.bitCount == 8) std::copy_n(in, width, row.begin());
            else unpackIndices(in, layout.bitCount, row);
            for (std::size_t x = 0; x < width; ++x)
                indices[y * width + x] = picture.zeroEntries[row[x]] ? static_cast<std::uint8_t>(zero) : row[x];
        }
    } else {
        const auto pixelAt = [&](std::size_t i) {
            const std::uint8_t* in =
                picture.dib.data() + layout.rowsOffset + (height - 1 - i / width) * layout.stride + 3 * (i % width);
            return std::uint32_t{in[2]} << 16 | std::uint32_t{in[1]} << 8 | in[0];
        };
        // The other pixels' colours, most used first; past 255 of them the
        // rest take the nearest of those, as the zero index needs a slot.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> counts;  // colour, pixels; sorted by colour
        for (std::size_t i = 0; i < indices.size(); ++i) {
            if (picture.zeroPixels[i]) continue;
            const std::uint32_t rgb = pixelAt(i);
            auto at = std::lower_bound(counts.begin(), counts.end(), std::pair{rgb, std::uint32_t{0}});
            if (at == counts.end() || at->first != rgb) at = counts.insert(at, {rgb, 0});
            ++at->second;
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> kept = counts;
        std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        kept.resize(std::min<std::size_t>(kept.size(), 255));
        for (const auto& [rgb, count] : kept) colours.push_back(rgb);
        std::vector<std::uint8_t> indexOf(counts.size());  // by position in counts
        for (std::size_t c = 0; c < counts.size(); ++c) {
            int best = std::numeric_limits<int>::max();
            for (std::size_t k = 0; k < colours.size() && best != 0; ++k) {
                const auto channel = [](std::uint32_t v, int shift) { return static_cast<int>(v >> shift & 0xFF); };
                int distance = 0;
                for (const int shift : {16, 8, 0}) {
                    const int d = channel(counts[c].first, shift) - channel(colours[k], shift);
                    distance += d * d;
                }
                if (distance < best) {
                    best = distance;
                    indexOf[c] = static_cast<std::uint8_t>(k);
                }
            }
        }
        for (std::size_t i = 0; i < indices.size(); ++i) {
            if (picture.zeroPixels[i]) continue;
            const auto at = std::lower_bound(counts.begin(), counts.end(), std::pair{pixelAt(i), std::uint32_t{0}});
            indices[i] = indexOf[static_cast<std::size_t>(at - counts.begin())];
        }
        zero = static_cast<int>(colours.size());
        colours.push_back(0);
        for (std::size_t i = 0; i < indices.size(); ++i)
            if (picture.zeroPixels[i]) indices[i] = static_cast<std::uint8_t>(zero);
    }
    if (zero < 0) return 1;
    // A colour that no other entry has, so only the zero entry matches it.
    std::uint32_t unique = 1;
    while (std::find(colours.begin(), colours.end(), unique) != colours.end()) ++unique;
    colours[static_cast<std::size_t>(zero)] = unique;

    out.maxPixels = 0;
    if (!allocateDib(out, picture.width, picture.height, 8, 256, why)) return 0;
    std::uint8_t* table = out.dib.data() + dibHeaderSize;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        table[4 * i] = static_cast<std::uint8_t>(colours[i]);
        table[4 * i + 1] = static_cast<std::uint8_t>(colours[i] >> 8);
        table[4 * i + 2] = static_cast<std::uint8_t>(colours[i] >> 16);
    }
    const std::size_t stride = static_cast<std::size_t>(dibStride(8, picture.width));
    for (std::size_t y = 0; y < height; ++y)
        std::copy_n(indices.begin() + static_cast<std::ptrdiff_t>(y * width), width,
                    table + 4 * 256 + (height - 1 - y) * stride);
    marker = {static_cast<std::uint8_t>(unique >> 16), static_cast<std::uint8_t>(unique >> 8),
              static_cast<std::uint8_t>(unique)};
    any = true;
    return 1;
}


int prepareGif(const Picture& picture, const PixelLayout& layout, int transparentGif,
               TransparentColour transparentColour, const GifOptions& options, PreparedGif& out, std::string* why) {
    // Pictures with indices keep their own table; deeper ones get a table
    // made for their colours (the table such a file may carry is only a
    // hint for displays with few colours).
    ColourTable table{};
    std::uint8_t transparent = 0;
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
            out.quantization = std::make_unique<Quantization>();
            quantize(rows, options.palette == GifPalette::fixed ? TableChoice::fixed : TableChoice::adaptive,
                     options.dither, *out.quantization);
        } catch (const std::bad_alloc&) {
            return fail(why, "not enough memory to choose the GIF's colours");
        }
        table = out.quantization->table;
        transparentGif = out.quantization->transparentIndex >= 0 ? 1 : 0;
        transparent = static_cast<std::uint8_t>(std::max(out.quantization->transparentIndex, 0));
        out.source.quantization = out.quantization.get();
    } else {
        table = buildColourTable(picture);
        transparent = transparentIndex(table, transparentColour);
        out.source.remap = duplicatesToTransparent(table, transparentGif, transparent);
    }
    out.head = buildHead(picture, table, transparentGif, transparent);
    out.lzw = options.lzw && compressImage(picture, layout, out.source, out.head, out.compressed);
    return 1;
}

// The whole GIF into the sink, whose buffer holds at most `capacity`
// bytes at a time; true when every row could be had and the memory too.
bool fillSink(const Picture& picture, const PixelLayout& layout, PreparedGif& gif, GifSink& sink,
              std::uint64_t capacity) {
    try {
        sink.capacity = static_cast<std::size_t>(std::min<std::uint64_t>(fileLength(picture), capacity));
        sink.buffer = allocateSinkBuffer(sink.capacity);
        if (gif.lzw) {
            sinkWrite(sink, gif.compressed.head.data(), gif.compressed.head.size());
            sinkWrite(sink, gif.compressed.data.buffer.get(), gif.compressed.data.used);
            sinkWrite(sink, fileTail, sizeof fileTail);
            return true;
        }
        if (fileLength(picture) > sink.capacity) writeBehind(sink);
        sinkWrite(sink, gif.head.data(), gif.head.size());
        GifCodeStream stream;
        return writeImageData(picture, layout, gif.source, stream, sink);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The whole GIF into an open stream; true when every write succeeded (and
// every row could be had).
bool writePrepared(const Picture& picture, const PixelLayout& layout, PreparedGif& gif, std::FILE* file) {
    GifSink sink;
    sink.file = file;
    std::setvbuf(sink.file, nullptr, _IONBF, 0);  // the sink already writes in large pieces
    const bool written = fillSink(picture, layout, gif, sink, sinkCapacity);
    return written && sinkFlush(sink) && std::fflush(file) == 0;
}

// Whether a pixel's table entry holds `colour`.
int indicesHaveColour(const Picture& picture, const PixelLayout& layout, IndexSource& source,
                      TransparentColour colour) {
    const ColourTable table = buildColourTable(picture);
    std::array<bool, 256> holds{};
    bool any = false;
    for (std::size_t i = 0; i < 256; ++i) {
        holds[i] = table[3 * i] == colour.red && table[3 * i + 1] == colour.green && table[3 * i + 2] == colour.blue;
        any = any || holds[i];
    }
    if (!any) return 0;  // the GIF's table could not name it
    bool found = false;
    forEachRow(picture, layout, source, [&](std::span<const std::uint8_t> indices) {
        found = std::any_of(indices.begin(), indices.end(), [&](std::uint8_t i) { return holds[i]; });
        return !found;
    });
    return found ? 1 : 0;
}

}  // namespace

int pictureHasColour(const Picture& picture, TransparentColour colour) {
    PixelLayout layout;
    if (!checkPicture(picture, layout, nullptr)) return 0;
    const auto width = static_cast<std::size_t>(picture.width);
    if (layout.bitCount > 8) {
        // The quantizer gives the transparent colour an exact entry of its
        // own, so a pixel of exactly that colour (as shown) is all it takes.
        for (std::int32_t r = 0; r < picture.height; ++r) {
            const std::uint8_t* row =
                picture.dib.data() + layout.rowsOffset + static_cast<std::size_t>(r) * layout.stride;
            for (std::size_t x = 0; x < width; ++x) {
                if (layout.bitCount == 16) {
                    const unsigned v = unsigned{row[2 * x]} | unsigned{row[2 * x + 1]} << 8;
                    if (widen5(v >> 10 & 31) == colour.red && widen5(v >> 5 & 31) == colour.green &&
                        widen5(v & 31) == colour.blue)
                        return 1;
                } else {
                    const std::uint8_t* p = row + x * static_cast<std::size_t>(layout.bitCount / 8);
                    if (p[2] == colour.red && p[1] == colour.green && p[0] == colour.blue) return 1;
                }
            }
        }
        return 0;
    }
    IndexSource source;
    return indicesHaveColour(picture, layout, source, colour);
}

int pictureHasColour(const StreamedPicture& picture, TransparentColour colour) {
    PixelLayout layout;
    if (!checkStreamed(picture, layout, nullptr)) return 0;
    IndexSource source;
    source.streamed = &picture;
    return indicesHaveColour(*picture.head, layout, source, colour);
}

namespace {

// The road both ways of saving share: check the picture, settle its table
// and indices, then let `output` write the prepared GIF. With
// GifOptions::zeroTransparent the picture goes as indices in which exactly
// the pixels stored as 0x0000 take the transparent entry (or as it is,
// without a transparent colour, when it has none).
template <typename Output>
int writeThrough(const Picture& picture, int transparentGif, TransparentColour transparentColour, std::string* why,
                 const GifOptions& options, Output output) {
    PixelLayout layout;
    if (!checkPicture(picture, layout, why)) return 0;
    if (options.zeroTransparent) {
        Picture indexed;
        TransparentColour marker;
        bool any = false;
        if (!zeroTransparentIndices(picture, layout, indexed, marker, any, why)) return 0;
        GifOptions rest = options;
        rest.zeroTransparent = false;
        return any ? writeThrough(indexed, 1, marker, why, rest, output)
                   : writeThrough(picture, 0, TransparentColour{}, why, rest, output);
    }
    PreparedGif gif;
    if (!prepareGif(picture, layout, transparentGif, transparentColour, options, gif, why)) return 0;
    return output(picture, layout, gif);
}

// The same road for a streamed picture, which always keeps its own table
// and indices and takes no options.
template <typename Output>
int writeStreamedThrough(const StreamedPicture& picture, int transparentGif, TransparentColour transparentColour,
                         std::string* why, Output output) {
    PixelLayout layout;
    if (!checkStreamed(picture, layout, why)) return 0;
    PreparedGif gif;
    gif.source.streamed = &picture;
    if (!prepareGif(*picture.head, layout, transparentGif, transparentColour, GifOptions{}, gif, why)) return 0;
    return output(*picture.head, layout, gif);
}

// A failed write whose rows stopped coming fails for that reason.
int failedWrite(const PreparedGif& gif, std::string* why, std::string reason) {
    return fail(why, gif.source.failure.empty() ? std::move(reason) : gif.source.failure);
}

// Writes the prepared GIF to `path`; see gif/save_file.h for how the new
// file takes the old one's place.
auto saveTo(const char* path, std::string* why) {
    return [path, why](const Picture& picture, const PixelLayout& layout, PreparedGif& gif) {
        SaveTarget save;
        if (!beginSave(path, save, why)) return 0;
        const bool written = writePrepared(picture, layout, gif, save.file.get());
        std::string reason;
        return finishSave(save, written, &reason) ? 1 : failedWrite(gif, why, reason);
    };
}

// Makes the prepared GIF in `out`.
auto keepIn(MadeGif& out, std::string* why) {
    return [&out, why](const Picture& picture, const PixelLayout& layout, PreparedGif& gif) {
        GifSink sink;
        // All of it in the buffer, which then never has to grow.
        if (!fillSink(picture, layout, gif, sink, fileLength(picture)))
            return fail(why, "not enough memory for the GIF");
        out.buffer = std::move(sink.buffer);
        out.size = sink.used;
        return 1;
    };
}

auto sendTo(std::FILE* file, std::string* why) {
    return [file, why](const Picture& picture, const PixelLayout& layout, PreparedGif& gif) {
        if (writePrepared(picture, layout, gif, file)) return 1;
        return failedWrite(gif, why, "write error while writing the GIF: " + systemReason(errno));
    };
}

}  // namespace

int writeGif(const Picture& picture, const char* path, int transparentGif, TransparentColour transparentColour,
             std::string* why, const GifOptions& options) {
    if (!path || !*path) return fail(why, "no file name to save to");
    return writeThrough(picture, transparentGif, transparentColour, why, options, saveTo(path, why));
}

int writeGifToStream(const Picture& picture, std::FILE* file, int transparentGif,
                     TransparentColour transparentColour, std::string* why, const GifOptions& options) {
    return writeThrough(picture, transparentGif, transparentColour, why, options, sendTo(file, why));
}

int makeGif(const Picture& picture, MadeGif& out, int transparentGif, TransparentColour transparentColour,
            std::string* why, const GifOptions& options) {
    return writeThrough(picture, transparentGif, transparentColour, why, options, keepIn(out, why));
}

int saveGif(std::span<const std::uint8_t> gif, const char* path, std::string* why) {
    if (!path || !*path) return fail(why, "no file name to save to");
    SaveTarget save;
    if (!beginSave(path, save, why)) return 0;
    const bool written = std::fwrite(gif.data(), 1, gif.size(), save.file.get()) == gif.size() &&
                         std::fflush(save.file.get()) == 0;
    return finishSave(save, written, why);
}

int writeGif(const StreamedPicture& picture, const char* path, int transparentGif,
             TransparentColour transparentColour, std::string* why) {
    if (!path || !*path) return fail(why, "no file name to save to");
    return writeStreamedThrough(picture, transparentGif, transparentColour, why, saveTo(path, why));
}

int writeGifToStream(const StreamedPicture& picture, std::FILE* file, int transparentGif,
                     TransparentColour transparentColour, std::string* why) {
    return writeStreamedThrough(picture, transparentGif, transparentColour, why, sendTo(file, why));
}

}  // namespace quolb
