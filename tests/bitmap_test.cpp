// Rows below name only the builder fields they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "image/byte_reader.h"
#include "image/picture.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_file.h"

namespace quolb {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Loads the bytes as a bitmap through loadPicture, into a record that last
// held an archive item.
int load(const Bytes& bytes, Picture& picture, std::string& why) {
    const test::TempFile file(".bmp", bytes);
    picture.path = file.path();
    picture.fileType = FileType::bitmap;
    picture.archiveOffset = 1234;
    return loadPicture(picture, &why);
}

// An RLE bitmap with a full colour table.
test::BmpBuilder rle(std::uint16_t bits, std::int32_t width, std::int32_t height, Bytes data) {
    return {.width = width, .height = height, .bitCount = bits, .compression = bits == 8 ? 1u : 2u,
            .table = Bytes(4u << bits, 7), .pixels = std::move(data)};
}

// 1 x 1, 8 bits, two colours.
test::BmpBuilder eightBit(Bytes pixels, std::uint32_t pixelOffset) {
    return {.pixelOffset = pixelOffset, .bitCount = 8, .clrUsed = 2,
            .table = {10, 20, 30, 0, 1, 2, 3, 0}, .pixels = std::move(pixels)};
}

// The reason is empty when the file loads; rows as loaded: uncompressed, bottom row first.
struct Case { const char* name; test::BmpBuilder file; std::string reason; Bytes rows; };

// Over 1 MiB of RLE data, so codes straddle the loader's reads: each row is
// one absolute run of 255 pixels and a pad byte, which lands in the padding.
Case longRle() {
    Case c{"RLE8 codes across reads", rle(8, 255, 5000, {}), "", {}};
    for (int i = 0; i < 5000 * 256; ++i) {
        if (i % 256 == 0) c.file.pixels.insert(c.file.pixels.end(), {0, 255});
        c.file.pixels.push_back(static_cast<std::uint8_t>(i % 256 == 255 ? 0 : i / 256 + i));
        c.rows.push_back(c.file.pixels.back());
        if (i % 256 == 255) c.file.pixels.insert(c.file.pixels.end(), {0, 0});  // end of line
    }
    c.file.pixels.insert(c.file.pixels.end(), {0, 1});
    return c;
}

TEST(Bitmap, LoadsAsPlainBottomUpRowsOrFailsWithItsReason) {
    const Case cases[] = {
        // Offsets that cannot be right are mended to "just after the table".
        {"pixel offset past a gap", eightBit({9, 9, 1, 2, 3, 4}, 64), "", {1, 2, 3, 4}},
        {"pixel offset far past the end", eightBit({1, 2, 3, 4}, 0xFFFFFFFF), "", {1, 2, 3, 4}},
        {"top-down", {.height = -2, .pixels = {1, 1, 1, 0, 2, 2, 2, 0}}, "", {2, 2, 2, 0, 1, 1, 1, 0}},
        {"top-down RLE8", rle(8, 1, -2, {1, 4, 0, 0, 1, 6, 0, 1}), "", {6, 0, 0, 0, 4, 0, 0, 0}},
        // A run, a padded absolute run, a run into the row's padding (kept out
        // of the picture), end of line, a delta to (2, 2), one pixel, the end.
        {"RLE8 escapes", rle(8, 5, 3, {2, 5, 0, 3, 1, 2, 3, 0, 3, 7, 0, 0, 0, 2, 2, 1, 1, 9, 0, 1}), "", {5, 5, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0}},
        {"RLE4 nibbles, odd absolute run", rle(4, 5, 2, {3, 0x12, 2, 0x34, 0, 0, 0, 5, 0x56, 0x78, 0x90, 0, 0, 1}), "", {0x12, 0x13, 0x40, 0, 0x56, 0x78, 0x90, 0}},
        longRle(),
        // Bit fields other than 5-5-5 load as 24 bits, each channel scaled
        // once: red 1 of 31 is 8, green 20 of 63 is 81.
        {"5-6-5 masks after the header", {.width = 2, .bitCount = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x1F}, .pixels = {0x00, 0x08, 0x80, 0x02}}, "", {0, 0, 8, 0, 81, 0, 0, 0}},
        // Old headers: a core table cut short by the pixel offset, 3-byte entries.
        {"core header", {.headerSize = 12, .width = 2, .bitCount = 8, .table = {10, 20, 30, 1, 2, 3}, .pixels = {1, 0, 0, 0}}, "", {1, 0, 0, 0}},
        {"OS/2 2.x short header", {.headerSize = 16, .width = 2, .bitCount = 1, .table = {10, 20, 30, 0, 1, 2, 3, 0}, .pixels = {0x40, 0, 0, 0}}, "", {0x40, 0, 0, 0}},
        {"2-bit indices kept as 4-bit", {.width = 5, .bitCount = 2, .clrUsed = 4, .table = Bytes(16, 7), .pixels = {0x1B, 0x80, 0, 0}}, "", {0x01, 0x23, 0x20, 0}},
        {"257 colours: the last one skipped", {.bitCount = 8, .clrUsed = 257, .table = Bytes(1028)}, "", {0, 0, 0, 0}},
        {"reversed masks in a V4 header", {.headerSize = 108, .bitCount = 32, .compression = 3, .masks = {0xFF00, 0xFF0000, 0xFF000000}, .pixels = {0x77, 30, 20, 10}}, "", {10, 20, 30, 0}},

        {"negative width", {.width = -5}, "bitmap width is not positive"},
        {"65536 wide", {.width = 65536}, "picture is larger than 65535 pixels in width or height"},
        {"most negative height", {.height = INT32_MIN}, "picture is larger than 65535 pixels in width or height"},
        // 4 x 32769 x 32768 is 2^32 + 131072: in 32 bits the data would seem to fit.
        {"size wraps 32 bits", {.width = 32769, .height = 32768, .bitCount = 32, .pixels = Bytes(131072)}, "pixel data runs past the end of the file"},
        {"last row cut", {.height = 2, .pixels = Bytes(7)}, "pixel data runs past the end of the file"},
        {"pixel offset past the end, rows missing", {.pixelOffset = 500, .pixels = {}}, "pixel data runs past the end of the file"},
        {"bit count 7", {.bitCount = 7}, "unsupported bit count 7"},
        {"planes 0", {.planes = 0}, "unsupported plane count 0"},
        {"table cut", {.bitCount = 8, .clrUsed = 200, .table = Bytes(40), .pixels = {}}, "colour table runs past the end of the file"},
        {"OS/2 Huffman 1D", {.headerSize = 64, .bitCount = 1, .compression = 3, .table = Bytes(8)}, "OS/2 Huffman 1D compression is not supported"},
        {"OS/2 24-bit RLE", {.headerSize = 64, .compression = 4}, "OS/2 24-bit RLE compression is not supported"},
        {"2-bit RLE", {.bitCount = 2, .compression = 1}, "2-bit pixels cannot be compressed"},
        {"mask past 16 bits", {.bitCount = 16, .compression = 3, .masks = {0xF0000, 0xF0, 0xF}}, "bit-field masks do not fit 16-bit pixels"},
        {"RLE8 absolute run past the row", rle(8, 1, 1, {0, 5, 0, 0, 0, 0, 0, 0}), "RLE run goes past the end of the row"},
        {"RLE4 top-down run past the picture", rle(4, 1, -1, {0, 0, 1, 0}), "RLE run goes past the end of the picture"},
        {"RLE8 absolute run cut", rle(8, 1, 1, {0, 3, 1}), "RLE data ends without an end-of-bitmap code"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture;
        std::string why;
        ASSERT_EQ(load(c.file.bytes(), picture, why), c.reason.empty() ? 1 : 0) << why;
        EXPECT_EQ(why, c.reason);
        EXPECT_EQ(picture.archiveOffset, 0);  // a bitmap is never an archive item, loaded or not
        EXPECT_EQ(picture.dib.empty() && picture.palette.empty(), !c.reason.empty());
        if (!c.reason.empty()) continue;
        const DibHeader h = pictureHeader(picture);  // the plain form: 40 bytes, bottom-up, uncompressed
        EXPECT_EQ(std::tuple(h.biSize, h.biHeight > 0, h.biCompression), std::tuple(40u, true, 0u));
        EXPECT_EQ(Bytes(pixelRows(picture).begin(), pixelRows(picture).end()), c.rows);
        const Bytes& t = c.file.table;  // blue, green, red, reserved
        EXPECT_TRUE(t.empty() || (picture.palette.at(0) == PaletteEntry{t[2], t[1], t[0], 0})) << "first colour";
    }
}

#ifndef _WIN32
// ImageMagick, an independent writer and judge of bitmaps: true when the
// command ("convert ...", "compare ...") exits with 0. (Not in the Windows
// build: Windows has a convert of its own, which converts disks.)
bool runImageMagick(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Bitmaps as another program writes them. What we load, put back in a file,
// must look to ImageMagick exactly like its own file.
TEST(Bitmap, ImageMagicksBitmapsLoadPixelForPixel) {
    if (!runImageMagick("convert -version")) GTEST_SKIP() << "ImageMagick is not available";
    // Options end with a space or ImageMagick's prefix for the output format.
    struct Kind { std::string options; std::uint32_t headerSize; std::uint16_t bits; std::uint32_t compression; };
    const Kind kinds[] = {
        {"-type palette -colors 200 -compress none BMP3:", 40, 8, 0},
        {"-colorspace gray -type palette -compress none BMP3:", 40, 8, 0},
        {"-type truecolor ", 124, 24, 0},
        {"-type palette -colors 200 -compress RLE BMP3:", 40, 8, 1},
        {"-colors 16 -type palette BMP3:", 40, 4, 0},
        {"-type bilevel BMP3:", 40, 1, 0},
        {"-define bmp:subtype=RGB565 ", 124, 16, 3},
        {"-alpha set -channel A -fx i/w +channel ", 124, 32, 3},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.options);
        const test::TempFile theirs(".bmp");
        ASSERT_TRUE(runImageMagick("convert -size 37x23 -seed 1 plasma:fractal " + k.options + "'" + theirs.path() +
                                   "'"));
        const Bytes file = test::readBytes(theirs.path());
        Picture picture;
        std::string why;
        ASSERT_EQ(load(file, picture, why), 1) << why;
        // The file is of the kind the row names.
        EXPECT_EQ(std::tuple(ByteReader::loadU32(&file[14]), file[28], ByteReader::loadU32(&file[30])),
                  std::tuple(k.headerSize, k.bits, k.compression));

        Bytes ours = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        ours.insert(ours.end(), picture.dib.begin(), picture.dib.end());
        storeU32(ours.data() + 2, static_cast<std::uint32_t>(ours.size()));
        storeU32(ours.data() + 10, static_cast<std::uint32_t>(ours.size() - pixelRows(picture).size()));
        const test::TempFile oursFile(".bmp", ours);
        // ImageMagick widens 5-6-5 channels by repeating their top bits; we
        // scale them, which differs by at most 1 of 255.
        EXPECT_TRUE(runImageMagick("compare -metric AE -alpha off " + std::string(k.bits == 16 ? "-fuzz 0.4% '" : "'") +
                                   theirs.path() + "' '" + oursFile.path() + "' null:"))
            << "ImageMagick sees pixels that differ";
    }
}
#endif

}  // namespace
}  // namespace quolb
