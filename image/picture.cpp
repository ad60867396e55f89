#include "image/picture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/archive.h"
#include "image/bitmap.h"
#include "image/byte_reader.h"
#include "image/container.h"
#include "image/file_io.h"
#include "image/tim.h"

namespace quolb {

void storeDibHeader(const DibHeader& h, std::span<std::uint8_t, dibHeaderSize> out) {
    std::uint8_t* p = out.data();
    storeU32(p + 0, h.biSize);
    storeU32(p + 4, static_cast<std::uint32_t>(h.biWidth));
    storeU32(p + 8, static_cast<std::uint32_t>(h.biHeight));
    storeU16(p + 12, h.biPlanes);
    storeU16(p + 14, h.biBitCount);
    storeU32(p + 16, h.biCompression);
    storeU32(p + 20, h.biSizeImage);
    storeU32(p + 24, static_cast<std::uint32_t>(h.biXPelsPerMeter));
    storeU32(p + 28, static_cast<std::uint32_t>(h.biYPelsPerMeter));
    storeU32(p + 32, h.biClrUsed);
    storeU32(p + 36, h.biClrImportant);
}

DibHeader readDibHeader(std::span<const std::uint8_t, dibHeaderSize> in) {
    ByteReader r(in);
    DibHeader h;
    // Forty bytes are there by the span's type, so none of these reads can fail.
    r.readU32(h.biSize);
    r.readI32(h.biWidth);
    r.readI32(h.biHeight);
    r.readU16(h.biPlanes);
    r.readU16(h.biBitCount);
    r.readU32(h.biCompression);
    r.readU32(h.biSizeImage);
    r.readI32(h.biXPelsPerMeter);
    r.readI32(h.biYPelsPerMeter);
    r.readU32(h.biClrUsed);
    r.readU32(h.biClrImportant);
    return h;
}

DibHeader pictureHeader(const Picture& picture) {
    return readDibHeader(std::span<const std::uint8_t, dibHeaderSize>(picture.dib.data(), dibHeaderSize));
}

std::span<const std::uint8_t> colorTable(const Picture& picture) {
    return std::span(picture.dib).subspan(dibHeaderSize, 4 * static_cast<std::size_t>(picture.colorCount));
}

std::span<const std::uint8_t> pixelRows(const Picture& picture) {
    return std::span(picture.dib).subspan(dibHeaderSize + 4 * static_cast<std::size_t>(picture.colorCount),
                                          static_cast<std::size_t>(picture.imageSize));
}

int checkDibShape(const Picture& picture, std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                  std::int32_t colorCount, std::string* why) {
    if (width <= 0 || height <= 0) return fail(why, "picture has no pixels");
    if (!checkMaxDimension(width, height, why)) return 0;
    if (colorCount < 0 || colorCount > 256) return fail(why, "colour table has more than 256 entries");
    const std::int64_t pixels = std::int64_t{width} * height;
    if (picture.maxPixels > 0 && pixels > picture.maxPixels)
        return fail(why, "picture has " + std::to_string(pixels) + " pixels, more than the limit of " +
                             std::to_string(picture.maxPixels));
    const std::int64_t imageSize = dibStride(bitCount, width) * height;
    if (imageSize > INT32_MAX - static_cast<std::int64_t>(dibHeaderSize) - 4 * 256)
        return fail(why, "picture is too large");
    return 1;
}

int allocateDib(Picture& picture, std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                std::int32_t colorCount, std::string* why) {
    if (!checkDibShape(picture, width, height, bitCount, colorCount, why)) return 0;
    const std::int64_t imageSize = dibStride(bitCount, width) * height;
    try {
        picture.dib.assign(dibHeaderSize + 4 * static_cast<std::size_t>(colorCount) +
                               static_cast<std::size_t>(imageSize),
                           0);
    } catch (const std::bad_alloc&) {
        picture.dib = {};
        return fail(why, "not enough memory for the picture");
    }
    picture.width = width;
    picture.height = height;
    picture.imageSize = static_cast<std::int32_t>(imageSize);
    picture.colorCount = colorCount;
    picture.zeroEntries.reset();
    picture.zeroPixels = {};
    picture.note.clear();
    picture.alphaChannel = 0;
    DibHeader header;
    header.biWidth = width;
    header.biHeight = height;
    header.biBitCount = bitCount;
    header.biSizeImage = static_cast<std::uint32_t>(imageSize);
    storeDibHeader(header, std::span<std::uint8_t, dibHeaderSize>(picture.dib.data(), dibHeaderSize));
    return 1;
}

int checkMaxDimension(std::int64_t width, std::int64_t height, std::string* why) {
    if (width > maxDimension || height > maxDimension)
        return fail(why, "picture is larger than 65535 pixels in width or height");
    return 1;
}

namespace {

// Each byte's pixels as indices, leftmost first: a byte at a time through a
// table costs a fraction of shifting out every pixel.
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
    std::size_t i = 0;
#if defined(__SSE2__)
    // Nibbles, the common case (archives' 16-colour pictures): sixteen bytes
    // at a time, the high nibble of each byte first.
    if constexpr (bits == 4) {
        const __m128i low = _mm_set1_epi8(0x0F);
        for (; i + 16 <= whole; i += 16, to += 32) {
            const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
            const __m128i left = _mm_and_si128(_mm_srli_epi16(packed, 4), low);
            const __m128i right = _mm_and_si128(packed, low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi8(left, right));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), _mm_unpackhi_epi8(left, right));
        }
    }
#endif
    for (; i < whole; ++i, to += perByte) std::memcpy(to, byteIndices<bits>[row[i]].data(), perByte);
    if (out.size() % perByte) std::memcpy(to, byteIndices<bits>[row[whole]].data(), out.size() % perByte);
}

}  // namespace

void unpackIndices(const std::uint8_t* row, int bitCount, std::span<std::uint8_t> out) {
    switch (bitCount) {
    case 1: unpackRow<1>(row, out); break;
    case 2: unpackRow<2>(row, out); break;
    case 4: unpackRow<4>(row, out); break;
    default: std::memcpy(out.data(), row, out.size()); break;
    }
}

std::vector<PaletteEntry> pictureColours(const Picture& picture) {
    if (picture.colorCount == 0) return {DefaultPalette.begin(), DefaultPalette.end()};
    const auto table = colorTable(picture);
    std::vector<PaletteEntry> colours(static_cast<std::size_t>(picture.colorCount));
    for (std::size_t i = 0; i < colours.size(); ++i) colours[i] = {table[4 * i + 2], table[4 * i + 1], table[4 * i], 0};
    return colours;
}

void buildPalette(Picture& picture) { picture.palette = pictureColours(picture); }

void releasePicture(Picture& picture) {
    picture.dib = {};
    picture.palette = {};
    picture.zeroEntries.reset();
    picture.zeroPixels = {};
    picture.note.clear();
}

int fail(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return 0;
}

FileType fileTypeFromBytes(std::span<const std::uint8_t> head) {
    const auto startsWith = [head](std::string_view mark) {
        const auto same = [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; };
        return head.size() >= mark.size() && std::equal(mark.begin(), mark.end(), head.begin(), same);
    };
    if (startsWith("BM")) return FileType::bitmap;
    if (startsWith(std::string_view("\x10\0\0\0", 4))) return FileType::tim;
    if (startsWith("TIM") || startsWith("LZSS-bu2")) return FileType::container;
    return FileType::none;
}

namespace {

// The type the stream's first bytes say; the stream is left anywhere.
FileType fileTypeOfContent(std::FILE* file) {
    std::uint8_t head[fileTypeMarkSize] = {};
    if (!seekTo(file, 0)) return FileType::none;
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    return fileTypeFromBytes(std::span(head, got));
}

// A loader's refusal, told apart: the size and memory cases by their reason
// (every loader words them alike), the rest by whether the first bytes were
// of the type the file was read as. An archive is a row of containers and
// may begin with one.
LoadFailure failureOf(const std::string& reason, FileType chosen, FileType content) {
    const auto says = [&reason](std::string_view words) { return reason.find(words) != std::string::npos; };
    if (says("not enough memory")) return LoadFailure::noMemory;
    if (says("too large") || says("larger than") || says("more than the limit")) return LoadFailure::tooLarge;
    const bool sameType = content != FileType::none &&
                          (content == chosen || (chosen == FileType::archive && content == FileType::container));
    return sameType ? LoadFailure::damaged : LoadFailure::notThisType;
}

int loadOnce(Picture& picture, std::string* why, LoadFailure& failure, FileType& content) {
    failure = LoadFailure::cannotOpen;
    content = FileType::none;
    const FilePtr file = openFile(picture.path.c_str(), "rb");
    if (!file) return fail(why, "cannot open the file");
    const std::int64_t length = measureFile(file.get());

    // An archive's offset means nothing in another file: start a different
    // archive at its first item, step through the same one.
    if (picture.fileType == FileType::archive) {
        if (picture.archivePath != picture.path) {
            picture.archivePath = picture.path;
            picture.archiveOffset = 0;
        }
    } else {
        picture.archiveOffset = 0;
    }

    if (length < 0) return fail(why, "cannot measure the file");
    std::string reason;
    int result = 0;
    switch (picture.fileType) {
    case FileType::bitmap: result = loadBitmap(picture, file.get(), length, &reason); break;
    case FileType::tim: result = loadTimFile(picture, file.get(), length, &reason); break;
    case FileType::container: result = loadContainer(picture, file.get(), length, nullptr, &reason); break;
    case FileType::archive: result = loadArchiveItem(picture, file.get(), length, &reason); break;
    default: result = fail(&reason, "unknown file type"); break;
    }
    if (result) {
        failure = LoadFailure::none;
        return 1;
    }
    releasePicture(picture);
    content = fileTypeOfContent(file.get());
    failure = failureOf(reason, picture.fileType, content);
    return fail(why, std::move(reason));
}

}  // namespace

int loadPicture(Picture& picture, std::string* why, LoadFailure* failure) {
    LoadFailure kind = LoadFailure::none;
    FileType content = FileType::none;
    const int result = loadOnce(picture, why, kind, content);
    if (failure) *failure = kind;
    return result;
}

int loadPictureAsItIs(Picture& picture, std::string* why, LoadFailure* failure) {
    LoadFailure kind = LoadFailure::none;
    FileType content = FileType::none;
    int result = loadOnce(picture, why, kind, content);
    if (!result && kind == LoadFailure::notThisType && content != FileType::none) {
        picture.fileType = content;
        result = loadOnce(picture, why, kind, content);
    }
    if (failure) *failure = kind;
    return result;
}

}  // namespace quolb
