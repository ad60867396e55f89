#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "byte_reader.h"
#include "picture.h"
#include "support/bmp_builder.h"
#include "support/imagemagick.h"

namespace quolb {
namespace {

using test::BmpBuilder;
using test::TempFile;
using Bytes = std::vector<std::uint8_t>;

struct Loaded {
    int result = 0;
    Picture picture;
    std::string why;
};

Loaded loadFile(const std::string& path) {
    Loaded out;
    out.picture.path = path;
    out.picture.fileType = FileType::bitmap;
    out.result = loadPicture(out.picture, &out.why);
    return out;
}

Loaded loadBytes(const Bytes& bytes) {
    const TempFile file(bytes, ".bmp");
    return loadFile(file.path());
}

Bytes sequence(std::size_t count, std::uint8_t start = 1) {
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(start + 7 * i);
    return out;
}

// The pixel rows of the loaded DIB, bottom row first.
Bytes rowsOf(const Picture& picture) {
    const auto rows = pixelRows(picture);
    return {rows.begin(), rows.end()};
}

// Red, green, blue of the pixel at (x, y), y counted from the top. 16-bit
// pixels give their 5-bit channel values.
std::array<int, 3> colourAt(const Picture& picture, std::int64_t x, std::int64_t y) {
    const int bits = pictureHeader(picture).biBitCount;
    const auto rows = pixelRows(picture);
    const std::uint8_t* row = rows.data() + (picture.height - 1 - y) * dibStride(bits, picture.width);
    if (bits <= 8) {
        const int perByte = 8 / bits;
        const int shift = 8 - bits * (1 + static_cast<int>(x % perByte));
        const auto index = static_cast<std::size_t>((row[x / perByte] >> shift) & ((1 << bits) - 1));
        const auto table = colorTable(picture);
        return {table[4 * index + 2], table[4 * index + 1], table[4 * index]};
    }
    if (bits == 16) {
        const int pixel = row[2 * x] | row[2 * x + 1] << 8;
        return {pixel >> 10 & 31, pixel >> 5 & 31, pixel & 31};
    }
    const std::uint8_t* p = row + x * bits / 8;
    return {p[2], p[1], p[0]};
}

// An RLE bitmap with a full colour table around the given data.
BmpBuilder rleBitmap(std::uint16_t bits, std::int32_t width, std::int32_t height, Bytes data) {
    BmpBuilder b;
    b.bitCount = bits;
    b.compression = bits == 8 ? 1 : 2;
    b.width = width;
    b.height = height;
    b.table = sequence(4u << bits);
    b.pixels = std::move(data);
    return b;
}

TEST(BitmapFields, TableSizeRowOffsetAndStrideFollowTheHeader) {
    struct Case {
        std::uint16_t bits;
        std::uint32_t clrUsed;
        std::int32_t width, height;
        std::int32_t colorCount;
        std::size_t rowsAt;
        std::int32_t imageSize;
    };
    const Case cases[] = {
        {24, 0, 3, 2, 0, 40, 24},   {8, 0, 5, 1, 256, 1064, 8}, {8, 16, 5, 2, 16, 104, 16},
        {4, 0, 3, 1, 16, 104, 4},   {1, 0, 9, 1, 2, 48, 4},     {24, 4, 1, 1, 4, 56, 4},
        {32, 0, 2, 2, 0, 40, 16},   {16, 0, 3, 1, 0, 40, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + "-bit, biClrUsed " + std::to_string(c.clrUsed));
        BmpBuilder b;
        b.bitCount = c.bits;
        b.clrUsed = c.clrUsed;
        b.width = c.width;
        b.height = c.height;
        b.table = sequence(4 * static_cast<std::size_t>(c.colorCount), 3);
        b.pixels = sequence(static_cast<std::size_t>(c.imageSize));
        b.sizeImage = 12345;  // kept as the file has it, even when wrong
        const Loaded l = loadBytes(b.bytes());
        ASSERT_EQ(l.result, 1) << l.why;
        EXPECT_EQ(l.picture.colorCount, c.colorCount);
        EXPECT_EQ(l.picture.imageSize, c.imageSize);
        EXPECT_EQ(l.picture.dib.size(), c.rowsAt + static_cast<std::size_t>(c.imageSize));
        EXPECT_EQ(rowsOf(l.picture), b.pixels);
        const DibHeader h = pictureHeader(l.picture);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, c.width);
        EXPECT_EQ(h.biHeight, c.height);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(h.biSizeImage, 12345u);
        EXPECT_EQ(h.biClrUsed, c.clrUsed);
        if (c.colorCount == 0) {
            EXPECT_TRUE(std::equal(DefaultPalette.begin(), DefaultPalette.end(), l.picture.palette.begin(),
                                   l.picture.palette.end()));
        } else {
            ASSERT_EQ(l.picture.palette.size(), static_cast<std::size_t>(c.colorCount));
            EXPECT_EQ(l.picture.palette[0], (PaletteEntry{17, 10, 3, 0}));
        }
    }
}

TEST(BitmapFields, PaletteTakesRedGreenBlueFromTheTableAndTypeIsNotChecked) {
    BmpBuilder b;
    b.type[0] = 'X';
    b.type[1] = 'Y';
    b.bitCount = 8;
    b.clrUsed = 2;
    b.table = {10, 20, 30, 99, 1, 2, 3, 4};
    b.pixels = {1, 0, 0, 0};
    const Loaded l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(l.picture.palette, (std::vector<PaletteEntry>{{30, 20, 10, 0}, {3, 2, 1, 0}}));
}

TEST(BitmapLayout, PixelOffsetIsHonouredOnlyPastTheTableAndInsideTheFile) {
    BmpBuilder b;
    b.bitCount = 8;
    b.clrUsed = 2;
    b.table = sequence(8);
    b.pixels = {1, 2, 3, 4};

    b.gap = {9, 9, 9, 9, 9, 9};  // the offset skips the gap
    EXPECT_EQ(rowsOf(loadBytes(b.bytes()).picture), b.pixels);

    b.gap.clear();
    for (std::uint32_t offset : {0u, 14u, 60u, 66u, 1000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);  // inside the headers, inside the table, at or past the end
        b.pixelOffset = offset;
        const Loaded l = loadBytes(b.bytes());
        ASSERT_EQ(l.result, 1) << l.why;
        EXPECT_EQ(rowsOf(l.picture), b.pixels);
    }
}

TEST(BitmapLayout, LongerInfoHeadersAreSkippedToTheTable) {
    for (std::uint32_t size : {52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(size);
        BmpBuilder b;
        b.headerSize = size;
        b.bitCount = 8;
        b.clrUsed = 1;
        b.table = {10, 20, 30, 0};
        b.pixels = {0, 0, 0, 0};
        b.masks = {0xAAAAAAAA, 0xBBBBBBBB, 0xCCCCCCCC, 0xDDDDDDDD};  // ignored without bit fields
        const Loaded l = loadBytes(b.bytes());
        ASSERT_EQ(l.result, 1) << l.why;
        EXPECT_EQ(pictureHeader(l.picture).biSize, 40u);
        EXPECT_EQ(l.picture.dib.size(), 40u + 4 + 4);
        EXPECT_EQ(l.picture.palette[0], (PaletteEntry{30, 20, 10, 0}));
    }
}

TEST(BitmapLayout, TopDownRowsAreTurnedBottomUp) {
    BmpBuilder b;
    b.width = 1;
    b.height = -3;
    b.pixels = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};  // top row first
    const Loaded l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(l.picture.height, 3);
    EXPECT_EQ(pictureHeader(l.picture).biHeight, 3);
    EXPECT_EQ(rowsOf(l.picture), (Bytes{3, 3, 3, 0, 2, 2, 2, 0, 1, 1, 1, 0}));

    const Loaded rle = loadBytes(rleBitmap(8, 1, -2, {1, 4, 0, 0, 1, 6, 0, 1}).bytes());
    ASSERT_EQ(rle.result, 1) << rle.why;
    EXPECT_EQ(rowsOf(rle.picture), (Bytes{6, 0, 0, 0, 4, 0, 0, 0}));
}

// Runs may fill a row's padding, as common writers encode whole padded rows,
// but only the pixels inside the width are kept.
TEST(BitmapRle, Rle8RunsEscapesDeltaAndPaddedAbsoluteRuns) {
    const BmpBuilder b = rleBitmap(8, 5, 3,
                                   {2, 5, 0, 3, 1, 2, 3, 0,  // row 0: a run, a padded absolute run,
                                    3, 7, 0, 0,              // a run into the row's padding, end of line
                                    0, 2, 2, 1,              // delta to (2, 2), skipping row 1
                                    1, 9, 0, 1});            // one pixel, end of bitmap
    const Loaded l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(pictureHeader(l.picture).biCompression, 0u);
    EXPECT_EQ(pictureHeader(l.picture).biSizeImage, 24u);
    EXPECT_EQ(rowsOf(l.picture), (Bytes{5, 5, 1, 2, 3, 0, 0, 0,  //
                                        0, 0, 0, 0, 0, 0, 0, 0,  //
                                        0, 0, 9, 0, 0, 0, 0, 0}));
}

TEST(BitmapRle, Rle4AlternatesNibblesAndPadsOddAbsoluteRuns) {
    const BmpBuilder b = rleBitmap(4, 5, 2,
                                   {3, 0x12, 2, 0x34, 0, 0,           // row 0: 1 2 1, 3 4
                                    0, 5, 0x56, 0x78, 0x90, 0, 0, 1});  // row 1: absolute 5 6 7 8 9, padded
    const Loaded l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(rowsOf(l.picture), (Bytes{0x12, 0x13, 0x40, 0, 0x56, 0x78, 0x90, 0}));
}

// More than one read's worth of RLE data, so codes straddle the reads.
TEST(BitmapRle, LongDataDecodesAcrossReads) {
    BmpBuilder b = rleBitmap(8, 255, 5000, {});
    Bytes expected;
    for (int y = 0; y < b.height; ++y) {
        b.pixels.insert(b.pixels.end(), {0, 255});
        for (int x = 0; x < 255; ++x) {
            const auto pixel = static_cast<std::uint8_t>(x * 3 + y);
            b.pixels.push_back(pixel);
            expected.push_back(pixel);
        }
        b.pixels.insert(b.pixels.end(), {0, 0, 0});  // padding, end of line
        expected.push_back(0);
    }
    b.pixels.insert(b.pixels.end(), {0, 1});
    ASSERT_GT(b.pixels.size(), 1u << 20);
    const Loaded l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(rowsOf(l.picture), expected);
}

TEST(BitmapBitfields, MasksAreTurnedIntoThePlainForms) {
    // 5-6-5 after a 40-byte header: red, green, a mid blue.
    BmpBuilder b;
    b.bitCount = 16;
    b.compression = 3;
    b.width = 3;
    b.masks = {0xF800, 0x07E0, 0x001F};
    b.pixels = {0x00, 0xF8, 0xE0, 0x07, 0x10, 0x00, 0, 0};
    Loaded l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(pictureHeader(l.picture).biCompression, 0u);
    EXPECT_EQ(rowsOf(l.picture), (Bytes{0x00, 0x7C, 0xE0, 0x03, 0x10, 0x00, 0, 0}));

    // 32 bits with the masks inside a V4 header, channels in reverse order.
    b = {};
    b.headerSize = 108;
    b.bitCount = 32;
    b.compression = 3;
    b.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};
    b.pixels = {0x77, 30, 20, 10};  // red 30, green 20, blue 10 and junk
    l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(rowsOf(l.picture), (Bytes{10, 20, 30, 0}));

    // BI_ALPHABITFIELDS carries four masks after a 40-byte header.
    b = {};
    b.bitCount = 32;
    b.compression = 6;
    b.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    b.pixels = {1, 2, 3, 4};
    l = loadBytes(b.bytes());
    ASSERT_EQ(l.result, 1) << l.why;
    EXPECT_EQ(colourAt(l.picture, 0, 0), (std::array<int, 3>{3, 2, 1}));
}

TEST(BitmapMalformed, EachFailsWithItsReasonAndLeavesNothing) {
    struct Case {
        const char* name;
        std::function<void(BmpBuilder&)> edit;
        std::string reason;
        std::size_t keepBytes = 0;  // cut the file to this length; 0 = whole
    };
    auto rle8 = [](Bytes data) {
        return [data](BmpBuilder& b) { b = rleBitmap(8, 1, 1, data); };
    };
    const std::string pastEnd = "pixel data runs past the end of the file";
    const std::string tooLarge = "bitmap is larger than 65535 pixels in width or height";
    const std::string pastRow = "RLE run goes past the end of the row";
    const std::string pastPicture = "RLE run goes past the end of the picture";
    const Case cases[] = {
        {"file header cut", [](BmpBuilder&) {}, "file ends inside the file header", 10},
        {"info header cut", [](BmpBuilder&) {}, "file ends inside the bitmap header", 30},
        {"54-byte file", [](BmpBuilder&) {}, pastEnd, 54},
        {"core header", [](BmpBuilder& b) { b.headerSize = 12; }, "bitmap core headers (12 bytes) are not supported"},
        {"unknown header", [](BmpBuilder& b) { b.headerSize = 64; }, "unknown bitmap header size 64"},
        {"huge header", [](BmpBuilder& b) { b.headerSize = 0xFFFFFFFF; }, "unknown bitmap header size 4294967295"},
        {"V5 header cut", [](BmpBuilder& b) { b.headerSize = 124; }, "file ends inside the bitmap header", 100},
        {"zero width", [](BmpBuilder& b) { b.width = 0; }, "bitmap width is not positive"},
        {"negative width", [](BmpBuilder& b) { b.width = -5; }, "bitmap width is not positive"},
        {"zero height", [](BmpBuilder& b) { b.height = 0; }, "bitmap height is 0"},
        {"wide", [](BmpBuilder& b) { b.width = 65536; }, tooLarge},
        {"tall top-down", [](BmpBuilder& b) { b.height = -65536; }, tooLarge},
        {"most negative height", [](BmpBuilder& b) { b.height = INT_MIN; }, tooLarge},
        {"largest width", [](BmpBuilder& b) { b.width = INT_MAX; }, tooLarge},
        {"40000 x 40000", [](BmpBuilder& b) { b.width = b.height = 40000; }, pastEnd},
        // 4 x 32769 x 32768 is 2^32 + 131072: in 32 bits the data would seem to fit.
        {"32-bit wrap", [](BmpBuilder& b) {
             b.bitCount = 32;
             b.width = 32769;
             b.height = 32768;
             b.pixels.assign(131072, 0);
         }, pastEnd},
        {"bit count 7", [](BmpBuilder& b) { b.bitCount = 7; }, "unsupported bit count 7"},
        {"bit count 0", [](BmpBuilder& b) { b.bitCount = 0; }, "unsupported bit count 0"},
        {"bit count 64", [](BmpBuilder& b) { b.bitCount = 64; }, "unsupported bit count 64"},
        {"planes 0", [](BmpBuilder& b) { b.planes = 0; }, "unsupported plane count 0"},
        {"planes 3", [](BmpBuilder& b) { b.planes = 3; }, "unsupported plane count 3"},
        {"257 entries", [](BmpBuilder& b) { b.bitCount = 8; b.clrUsed = 257; b.table.assign(1028, 0); },
         "colour table has more than 256 entries"},
        {"huge table on 24 bits", [](BmpBuilder& b) { b.clrUsed = 0xFFFFFFFF; }, "colour table has more than 256 entries"},
        {"table missing", [](BmpBuilder& b) { b.bitCount = 8; b.pixels.clear(); },
         "colour table runs past the end of the file"},
        {"table cut", [](BmpBuilder& b) { b.bitCount = 8; b.clrUsed = 200; b.table.assign(40, 0); b.pixels.clear(); },
         "colour table runs past the end of the file"},
        {"last row cut", [](BmpBuilder& b) { b.height = 2; b.pixels.resize(7); }, pastEnd},
        {"offset past the end, rows missing", [](BmpBuilder& b) { b.pixelOffset = 500; b.pixels.clear(); }, pastEnd},
        {"offset near the end", [](BmpBuilder& b) { b.gap.assign(10, 0); b.pixels.resize(2); }, pastEnd},
        {"JPEG", [](BmpBuilder& b) { b.compression = 4; }, "JPEG or PNG inside a bitmap is not supported"},
        {"PNG", [](BmpBuilder& b) { b.compression = 5; b.bitCount = 0; }, "JPEG or PNG inside a bitmap is not supported"},
        {"compression 7", [](BmpBuilder& b) { b.compression = 7; }, "unknown bitmap compression 7"},
        {"RLE8 on 24 bits", [](BmpBuilder& b) { b.compression = 1; }, "RLE8 compression needs 8 bits per pixel"},
        {"RLE4 on 8 bits", [](BmpBuilder& b) { b.compression = 2; b.bitCount = 8; b.clrUsed = 1; b.table.assign(4, 0); },
         "RLE4 compression needs 4 bits per pixel"},
        {"bit fields on 24 bits", [](BmpBuilder& b) { b.compression = 3; }, "bit-field masks need 16 or 32 bits per pixel"},
        {"masks missing", [](BmpBuilder& b) { b.compression = 3; b.bitCount = 16; b.pixels.clear(); },
         "bit-field masks run past the end of the file"},
        {"scattered mask", [](BmpBuilder& b) { b.compression = 3; b.bitCount = 16; b.masks = {0xF801, 0x07E0, 0x1E}; },
         "bit-field masks must be contiguous"},
        {"mask wider than 16 bits", [](BmpBuilder& b) { b.compression = 3; b.bitCount = 16; b.masks = {0xF0000, 0xF0, 0xF}; },
         "bit-field masks do not fit 16-bit pixels"},
        {"RLE8 run past the row", rle8({2, 0, 3, 0}), pastRow},
        {"RLE8 absolute run past the row", rle8({0, 5, 0, 0, 0, 0, 0, 0}), pastRow},
        {"RLE8 run past the picture", rle8({0, 0, 1, 0}), pastPicture},
        {"RLE8 line ends past the picture", rle8({0, 0, 0, 0, 0, 1}), pastPicture},
        {"RLE8 delta past the row", rle8({0, 2, 5, 0, 0, 1}), pastRow},
        {"RLE8 delta past the picture", rle8({0, 2, 0, 2, 0, 1}), pastPicture},
        {"RLE8 without end", rle8({1, 0}), "RLE data ends without an end-of-bitmap code"},
        {"RLE8 absolute run cut", rle8({0, 3, 1}), "RLE data ends without an end-of-bitmap code"},
        {"RLE8 size past the end", [&](BmpBuilder& b) { rle8({0, 1})(b); b.sizeImage = 3; }, pastEnd},
        {"RLE4 run past the row", [](BmpBuilder& b) { b = rleBitmap(4, 1, 1, {9, 0x11, 0, 1}); }, pastRow},
        {"RLE4 top-down past the picture", [](BmpBuilder& b) { b = rleBitmap(4, 1, -1, {0, 0, 1, 0}); }, pastPicture},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpBuilder b;  // 24 bits, 1 x 1, valid until edited
        b.pixels = {1, 2, 3, 0};
        c.edit(b);
        Bytes bytes = b.bytes();
        if (c.keepBytes != 0) bytes.resize(c.keepBytes);
        const Loaded l = loadBytes(bytes);
        EXPECT_EQ(l.result, 0);
        EXPECT_EQ(l.why, c.reason);
        EXPECT_TRUE(l.picture.dib.empty());
        EXPECT_TRUE(l.picture.palette.empty());
    }
}

// Bitmaps as another program writes them, checked pixel by pixel against
// what that program reads back.
TEST(BitmapFromImageMagick, EveryPixelMatchesWhatImageMagickReads) {
    if (!test::haveConvert()) GTEST_SKIP() << "ImageMagick's convert is not available";
    struct Case {
        const char* name;
        std::string options;
        std::string format;  // ImageMagick's prefix for the output name
        std::uint32_t headerSize;
        std::uint16_t bits;
        std::uint32_t compression;
    };
    const Case cases[] = {
        {"BMP3 8-bit", "-type palette -colors 200 -compress none", "BMP3:", 40, 8, 0},
        {"V5 24-bit", "", "", 124, 24, 0},
        {"RLE8", "-type palette -colors 200 -compress RLE", "BMP3:", 40, 8, 1},
        {"grey", "-colorspace gray -type palette -compress none", "BMP3:", 40, 8, 0},
        {"4-bit", "-colors 16 -type palette", "BMP3:", 40, 4, 0},
        {"1-bit", "-type bilevel", "BMP3:", 40, 1, 0},
        {"16-bit 5-6-5", "-define bmp:subtype=RGB565", "", 124, 16, 3},
        {"32-bit with alpha", "-alpha set -channel A -fx i/w +channel", "", 124, 32, 3},
    };
    const TempFile source(".png");
    ASSERT_TRUE(test::runConvert("-size 37x23 -seed 1 plasma:fractal '" + source.path() + "'"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempFile bitmap(".bmp");
        ASSERT_TRUE(test::runConvert("'" + source.path() + "' " + c.options + " '" + c.format + bitmap.path() + "'"));
        const Loaded l = loadFile(bitmap.path());
        ASSERT_EQ(l.result, 1) << l.why;

        // Make sure the file really is of the kind this case is about.
        std::FILE* f = std::fopen(bitmap.path().c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::uint8_t head[34] = {};
        ASSERT_EQ(std::fread(head, 1, sizeof head, f), sizeof head);
        std::fclose(f);
        EXPECT_EQ(ByteReader::loadU32(head + 14), c.headerSize);
        EXPECT_EQ(head[28], c.bits);
        EXPECT_EQ(ByteReader::loadU32(head + 30), c.compression);

        const Bytes rgb = test::convertReadRgb(bitmap.path());
        ASSERT_EQ(rgb.size(), 37u * 23u * 3u);
        ASSERT_EQ(l.picture.width, 37);
        ASSERT_EQ(l.picture.height, 23);
        int mismatches = 0;
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 37; ++x) {
                const auto ours = colourAt(l.picture, x, y);
                for (std::size_t i = 0; i < 3; ++i) {
                    const int theirs = rgb[3 * (static_cast<std::size_t>(y) * 37 + static_cast<std::size_t>(x)) + i];
                    const bool same = c.bits == 16 ? std::abs(ours[i] - (theirs * 31 + 127) / 255) <= 1
                                                   : ours[i] == theirs;
                    if (!same && ++mismatches <= 5)
                        ADD_FAILURE() << "pixel " << x << "," << y << " channel " << i << ": " << ours[i]
                                      << " against " << theirs;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

}  // namespace
}  // namespace quolb
