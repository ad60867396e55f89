// The one in-memory picture every loader fills and the GIF writer reads.
//
// Whatever the source file, a loaded picture is a packed DIB in one block:
// a 40-byte BITMAPINFOHEADER (biSize 40), colorCount colour-table entries
// (blue, green, red, reserved) and the pixel rows, bottom row first, each
// padded to a multiple of 4 bytes. The Windows shell hands this block to
// SetDIBitsToDevice unchanged; everything else reads it through the helpers
// below. Portable code: no platform headers here.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quolb {

enum class FileType : std::int32_t {
    none = -1,
    bitmap = 0,
    tim = 1,
    container = 2,
    archive = 3,
};

// Palette entries in the platform's logical-palette order.
struct PaletteEntry {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t flags = 0;
    friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

// The most pixels a load accepts unless told otherwise (a picture of about
// 13,377 x 13,377). A few hundred bytes of run-length data may claim
// gigapixels; loads check the claim against the limit before allocating.
inline constexpr std::int64_t defaultMaxPixels = 178'956'970;

struct Picture {
    std::vector<std::uint8_t> dib;      // empty: no picture
    std::vector<PaletteEntry> palette;  // empty: no palette
    std::string path;                   // the file to load, in the system's code page
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t imageSize = 0;         // stride x height
    std::int32_t colorCount = 0;        // colour-table entries in the DIB; 0 = none
    std::int32_t alphaChannel = 0;      // 1: byte 3 of each 32-bit pixel is its opacity
    FileType fileType = FileType::none;
    std::int32_t archiveOffset = 0;     // where the next archive scan starts
    std::string archivePath;            // the archive archiveOffset belongs to
    std::int64_t maxPixels = defaultMaxPixels;  // loads refuse larger pictures; 0: no limit
    // TIM pictures store colour 0x0000 for "draw nothing"; once widened it
    // looks like any other black, so loads remember where it was.
    bool markZeroPixels = false;        // direct-colour loads fill zeroPixels
    std::bitset<256> zeroEntries;       // colour-table entries stored as 0x0000
    std::vector<bool> zeroPixels;       // top row first; stored as 0x0000 (direct colour, when asked)
    std::string note;                   // what the loader made up (e.g. a stand-in colour table)
};

inline constexpr std::size_t dibHeaderSize = 40;

// The fields of the 40-byte header the DIB starts with.
struct DibHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

void storeDibHeader(const DibHeader& header, std::span<std::uint8_t, dibHeaderSize> out);
DibHeader readDibHeader(std::span<const std::uint8_t, dibHeaderSize> in);

// Bytes in one pixel row, padded to 4; computed in 64 bits so callers can
// check it against their limits before allocating.
constexpr std::int64_t dibStride(std::int64_t bitCount, std::int64_t width) {
    return 4 * ((bitCount * width + 31) / 32);
}

// The fixed 256 colours for pictures without a colour table: red steps by 32
// with i, green by 32 every 8 entries, blue by 64 every 64.
inline constexpr std::array<PaletteEntry, 256> DefaultPalette = [] {
    std::array<PaletteEntry, 256> colours{};
    for (unsigned i = 0; i < 256; ++i) {
        colours[i].red = static_cast<std::uint8_t>(32 * (i % 8));
        colours[i].green = static_cast<std::uint8_t>(32 * ((i / 8) % 8));
        colours[i].blue = static_cast<std::uint8_t>(64 * (i / 64));
    }
    return colours;
}();

// The bit counts a DIB may have here: what the loaders make and the GIF
// writer takes.
constexpr bool isDibBitCount(unsigned bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The largest width or height a picture may have: the GIF fields hold 16 bits.
inline constexpr std::int32_t maxDimension = 65535;

// Fails (returns 0, with the one reason) when the width or the height is
// above maxDimension.
int checkMaxDimension(std::int64_t width, std::int64_t height, std::string* why);

// 5-bit colour channels widened to 8 bits. Both rules keep 0 and 31 at 0
// and 255 but part from v = 4 on (32 against 33), and the bytes of the GIFs
// already written fix each: TIM colour tables are scaled (v * 255 / 31,
// rounded down) and go into the GIF's table as they are; a 16-bit pixel's
// channel is replicated (v << 3 | v >> 2), which is the colour the screen
// shows for it (and the eyedropper reads), so the GIF keeps that colour.
constexpr std::uint8_t widenChannel(unsigned value) {
    return static_cast<std::uint8_t>((value & 31u) * 255u / 31u);
}
constexpr std::uint8_t widen5(unsigned value) {
    return static_cast<std::uint8_t>((value & 31u) << 3 | (value & 31u) >> 2);
}

// Views into a loaded picture's DIB. Only valid while picture.dib is not empty.
DibHeader pictureHeader(const Picture& picture);
std::span<const std::uint8_t> colorTable(const Picture& picture);  // 4 x colorCount bytes
std::span<const std::uint8_t> pixelRows(const Picture& picture);   // imageSize bytes

// Whether a DIB of this shape may be made for `picture`: 0, with the reason,
// when the sizes are out of range or it has more pixels than
// picture.maxPixels allows.
int checkDibShape(const Picture& picture, std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                  std::int32_t colorCount, std::string* why);

// Allocates the DIB for a picture of the given shape, writes its header and
// sets width, height, imageSize and colorCount; clears the marks and note
// of an earlier load. Fails (returns 0, with a reason) where checkDibShape
// does; nothing is allocated then.
int allocateDib(Picture& picture, std::int32_t width, std::int32_t height,
                std::uint16_t bitCount, std::int32_t colorCount, std::string* why);

// One row of 1-, 2-, 4- or 8-bit pixels (leftmost in the high bits) as one
// index per pixel; out.size() is the width.
void unpackIndices(const std::uint8_t* row, int bitCount, std::span<std::uint8_t> out);

// The picture's colours in table order: entry i from colour-table entry i
// (blue, green, red, reserved), or DefaultPalette when the picture has no
// colour table. Only valid while picture.dib is not empty. Both the palette
// every loader keeps and the GIF's colour table come from here.
std::vector<PaletteEntry> pictureColours(const Picture& picture);

// Sets the picture's palette to its colours.
void buildPalette(Picture& picture);

// Empties dib and palette and what a load noted about them; the other
// fields stay.
void releasePicture(Picture& picture);

// What a file's first bytes say plainly it is: "BM" a bitmap, the TIM
// identifier (10 00 00 00) a TIM picture, "TIM" or "LZSS-bu2" a compressed
// container; none otherwise. Archives have no such mark.
FileType fileTypeFromBytes(std::span<const std::uint8_t> head);
inline constexpr std::size_t fileTypeMarkSize = 8;  // the bytes fileTypeFromBytes needs at most

// The kinds of failed load a user is told apart.
enum class LoadFailure : std::int8_t {
    none,
    cannotOpen,   // the file cannot be opened or read
    notThisType,  // its bytes are not of the type it was read as
    damaged,      // they are, but the data is broken or of a form not read here
    tooLarge,     // the picture is larger than the limits allow
    noMemory,     // there is not enough memory for it
};

// Opens picture.path and loads it by picture.fileType. Returns 1 when a
// picture was loaded, 0 otherwise; `why` (if given) then says why and
// `failure` (if given) which kind of failure it was. A failed load leaves
// neither dib nor palette.
int loadPicture(Picture& picture, std::string* why = nullptr, LoadFailure* failure = nullptr);

// As loadPicture, but when the type's loader refuses a file whose first
// bytes say plainly it is of another type, loads it as that type instead
// (picture.fileType then says which). A file of type none is read by its
// bytes alone.
int loadPictureAsItIs(Picture& picture, std::string* why = nullptr, LoadFailure* failure = nullptr);

// Stores `reason` in `why` (when given) and returns 0, so a loader can write
// `return fail(why, "...")`.
int fail(std::string* why, std::string reason);

}  // namespace quolb
