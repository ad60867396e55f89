#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "tests/support/bmp_builder.h"
#include "tests/support/reference_packer.h"
#include "tests/support/temp_file.h"
#include "image/bitmap.h"
#include "image/file_io.h"
#include "gif/packer.h"
#include "gif/writer.h"
#ifdef QUOLB_HAVE_GIFLIB
#include "tests/support/gif_decode.h"
#endif
#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace quolb {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

// A folder of its own for each test, removed afterwards; test programs built
// elsewhere may run at the same time.
struct GifWriterTest : ::testing::Test {
    GifWriterTest() { fs::create_directories(folder); }
    ~GifWriterTest() override { fs::remove_all(folder); }
    const fs::path folder = fs::temp_directory_path() / ("quolb-gif-writer-" + std::to_string(std::random_device{}()));
};

// A picture of 1, 4 or 8 bits with random indices, the colour table its GIF
// must hold and the index each pixel must be sent as, top row first. The table
// is the picture's own (entry i is (3i+1, 255-i, 7i), all different, none
// black), black past its end. Deeper pictures stay black (more of them:
// true_colour_test.cpp).
struct Sample { Picture picture; std::vector<Rgb> table; Bytes indices; };

Sample makePicture(std::size_t width, std::size_t height, std::uint16_t bits, std::size_t own) {
    static std::mt19937 random(6);
    Sample s{{}, std::vector<Rgb>(256), {}};
    EXPECT_EQ(allocateDib(s.picture, std::int32_t(width), std::int32_t(height), bits, std::int32_t(own), nullptr), 1);
    for (std::size_t i = 0; i < own; ++i) {
        s.table[i] = {std::uint8_t(3 * i + 1), std::uint8_t(255 - i), std::uint8_t(7 * i)};
        std::copy(s.table[i].rbegin(), s.table[i].rend(), s.picture.dib.data() + dibHeaderSize + 4 * i);
    }
    const auto stride = static_cast<std::size_t>(s.picture.imageSize) / height;
    for (std::size_t p = 0; bits <= 8 && p < width * height; ++p) {
        // Rows go bottom-up.
        std::uint8_t* at = s.picture.dib.data() + s.picture.dib.size() - (p / width + 1) * stride + p % width * bits / 8;
        s.indices.push_back(static_cast<std::uint8_t>(random() % (1u << bits)));
        *at = static_cast<std::uint8_t>(*at | s.indices.back() << (8 - bits - static_cast<int>(p % width * bits % 8)));
    }
    return s;
}

// Each file holds the reference packer's code stream for its pixels, the
// block terminator and trailer; giflib decodes it to the picture's size, the
// file's table, the transparent flag and index, and every pixel.
TEST_F(GifWriterTest, RoundTripsThroughGiflib) {
    struct Case {
        std::size_t width, height; std::uint16_t bits; std::size_t colours;
        int flag; TransparentColour colour; int index;
    };
    // The transparent index is the colour's first entry, black past the
    // table's end included, or 0 when none matches; the flag off keeps it.
    const Case cases[] = {
        {7, 300, 1, 2, 1, {0, 0, 0}, 2},
        {254, 1, 8, 200, 1, {1, 2, 3}, 0},  // one clear code, just before the last pixel's code
        {507, 1, 8, 200, 1, {1, 2, 3}, 0},
        {23, 22, 8, 256, 0, {4, 254, 7}, 1},  // 506 pixels
        {15, 15, 8, 16, 0, {0, 0, 0}, 16},  // 225 codes and the end code: one full sub-block
        {45, 5, 4, 3, 1, {7, 253, 14}, 2},  // rows of 4 bits both sixteen bytes at a time and one by one
        {1, 1, 8, 256, 0, {}, 0},
        {1700, 1500, 8, 256, 0, {}, 0},  // larger than the write buffer: written half a buffer at a time behind the packing
    };
    const fs::path path = folder / "round.gif";
    std::ofstream(path) << std::string(5000, 'x');  // a longer file for the first GIF to replace
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.bits) + " bits");
        const Sample sample = makePicture(c.width, c.height, c.bits, c.colours);
        std::string why;
        ASSERT_EQ(writeGif(sample.picture, path.string().c_str(), c.flag, c.colour, &why), 1) << why;
        const Bytes file = test::readBytes(path);
        ASSERT_GE(file.size(), 802u);
        EXPECT_EQ(Bytes(file.begin() + 800, file.end() - 2), test::referenceCodeStream(sample.indices));
        EXPECT_EQ(Bytes(file.end() - 2, file.end()), (Bytes{0x00, 0x3B})) << "block terminator and trailer";
#ifdef QUOLB_HAVE_GIFLIB
        test::DecodedGif gif;
        ASSERT_TRUE(test::decodeGifFile(path.string(), gif, &why)) << why;
        EXPECT_EQ(std::tie(gif.imageWidth, gif.imageHeight, gif.transparent, gif.transparentIndex, gif.colours, gif.pixels),
                  std::tuple(int(c.width), int(c.height), c.flag == 1, c.index, sample.table, sample.indices));
#endif
    }
}

// A GIF names one transparent index: pixels of a second entry of the same
// colour move to it. A colour no pixel shows is told apart, so the
// converter can refuse it instead of marking entry 0.
TEST_F(GifWriterTest, TransparentColourCoversEveryPixelOfIt) {
    Sample s = makePicture(16, 4, 8, 16);
    std::copy_n(s.picture.dib.data() + dibHeaderSize + 4 * 5, 4, s.picture.dib.data() + dibHeaderSize + 4 * 9);
    s.picture.dib[s.picture.dib.size() - 1] = s.indices[15] = 9;  // the last pixel of the top row
    const TransparentColour colour{s.table[5][0], s.table[5][1], s.table[5][2]};
    EXPECT_EQ(pictureHasColour(s.picture, colour), 1);
    EXPECT_EQ(pictureHasColour(s.picture, {1, 2, 3}), 0);
#ifdef QUOLB_HAVE_GIFLIB
    const fs::path path = folder / "duplicate.gif";
    for (const bool lzw : {false, true}) {
        ASSERT_EQ(writeGif(s.picture, path.string().c_str(), 1, colour, nullptr, {.lzw = lzw}), 1);
        test::DecodedGif gif;
        std::string why;
        ASSERT_TRUE(test::decodeGifFile(path.string(), gif, &why)) << why;
        EXPECT_EQ(gif.transparentIndex, 5);
        EXPECT_EQ(gif.pixels[15], 5);
        for (std::size_t i = 0; i < gif.pixels.size(); ++i)
            EXPECT_EQ(gif.pixels[i], s.indices[i] == 9 ? 5 : s.indices[i]) << i << (lzw ? " compressed" : "");
    }
#endif
}

// Every way of packing this build has, fed in calls of random lengths (so
// calls start between bytes and inside sub-blocks), past the packer's
// internal pieces too.
TEST(GifPacker, EveryWayMatchesTheBitByBitPacker) {
    std::mt19937 random(2);
    std::vector<std::size_t> counts;
    for (std::size_t count = 1; count <= 1300; ++count) counts.push_back(count);
    for (const std::size_t count : {8191u, 8192u, 8193u, 16448u, 70001u}) counts.push_back(count);
    for (const LiteralPacker& packer : literalPackers()) {
        if (!packer.usable || !packer.usable()) {
            std::printf("packer %s: this machine cannot run it\n", packer.name);
            continue;
        }
        for (const std::size_t count : counts) {
            Bytes codes(count);
            for (auto& code : codes) code = static_cast<std::uint8_t>(random());
            GifSink sink;
            GifCodeStream stream;
            reset(stream);
            stream.clearCode = 256;
            stream.clearLimit = 253;
            for (std::size_t at = 0; at < count;) {
                const std::size_t length = std::min<std::size_t>(count - at, 1 + random() % (random() % 2 ? 20 : 9000));
                putLiteralCodes(stream, sink, std::span(codes).subspan(at, length), packer);
                at += length;
            }
            finish(stream, sink, 257, 9);
            ASSERT_EQ(Bytes(sink.buffer.get(), sink.buffer.get() + sink.used), test::referenceCodeStream(codes))
                << packer.name << ", " << count << " codes";
        }
    }
}

#ifdef QUOLB_HAVE_GIFLIB
// Compressed files decode to what the plain file of the same picture decodes
// to, with the table cut to the smallest power of two holding the indices
// used, and are never larger; where compressing does not pay, the plain file
// is written byte for byte.
TEST_F(GifWriterTest, CompressedFilesDecodeAsThePlainOnes) {
    enum Pattern { keep, top, noise, nearNoise, runs, smooth, runsThenNoise, noiseThenRuns };
    struct Case {
        std::size_t width, height; std::uint16_t bits; std::size_t colours;
        Pattern pattern; unsigned range; int tableBits; bool plain;
    };
    const Case cases[] = {
        {1, 1, 8, 256, top, 1, 1, false},         // index 0: two entries, codes of 3 bits
        {1, 1, 8, 256, top, 256, 8, true},        // the clear code makes it one byte longer
        {7, 5, 8, 2, noise, 2, 1, false},
        {333, 17, 8, 16, runs, 16, 4, false},
        {101, 77, 8, 32, noise, 32, 5, false},
        {1501, 1000, 8, 4, runs, 4, 2, false},       // long strings: a full table kept
        {1200, 800, 8, 16, runsThenNoise, 16, 4, false},  // a full table cleared once it stops paying
        {700, 500, 8, 256, smooth, 256, 8, false},
        {999, 803, 8, 64, runs, 64, 6, false},
        {800, 600, 8, 256, noise, 256, 8, false},    // noise: sent as it is, with clear codes before codes widen
        {800, 600, 8, 256, nearNoise, 256, 8, false},  // mostly sent as it is: a little smaller than plain
        {500, 400, 8, 256, noiseThenRuns, 256, 8, false},  // compressed again after the noise
        {600, 500, 8, 127, noise, 127, 7, false},    // with the transparent colour a table of 128: 8-bit codes
        {61, 13, 4, 16, keep, 0, 4, false},
        {40, 30, 24, 0, keep, 0, 1, false},       // one colour and the transparent one: a table of 2
        {45, 31, 1, 2, keep, 0, 1, false},
        {2500, 1600, 8, 256, noiseThenRuns, 256, 8, false},  // more than the write buffer holds, written straight from memory
    };
    std::mt19937 random(9);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.colours) + " colours");
        Sample sample = makePicture(c.width, c.height, c.bits, c.colours);
        const std::size_t stride = static_cast<std::size_t>(sample.picture.imageSize) / c.height;
        unsigned index = 0, left = 0;
        for (std::size_t p = 0; c.pattern != keep && p < c.width * c.height; ++p) {
            const std::size_t x = p % c.width, y = p / c.width;
            if (c.pattern == top) index = c.range - 1;
            const bool upper = y < c.height / 2;
            if (c.pattern == noise || (c.pattern == runsThenNoise && !upper) || (c.pattern == noiseThenRuns && upper))
                index = static_cast<unsigned>(random() % c.range);
            if (c.pattern == nearNoise && random() % 25 != 0) index = static_cast<unsigned>(random() % c.range);
            if ((c.pattern == runs || (c.pattern == runsThenNoise && upper) || (c.pattern == noiseThenRuns && !upper)) &&
                left-- == 0) {
                index = static_cast<unsigned>(random() % c.range);
                left = static_cast<unsigned>(random() % (1 + y / 40 % 30 * 4));  // runs lengthen down the picture
            }
            if (c.pattern == smooth)
                index = static_cast<unsigned>(128 + 100 * std::sin(double(x) / 90) * std::cos(double(y) / 70) + double(random() % 3));
            sample.indices[p] = static_cast<std::uint8_t>(index);
            sample.picture.dib[sample.picture.dib.size() - (y + 1) * stride + x] = static_cast<std::uint8_t>(index);
        }
        const fs::path plainPath = folder / "plain.gif", lzwPath = folder / "lzw.gif";
        std::string why;
        ASSERT_EQ(writeGif(sample.picture, plainPath.string().c_str(), 1, {0, 0, 0}, &why), 1) << why;
        ASSERT_EQ(writeGif(sample.picture, lzwPath.string().c_str(), 1, {0, 0, 0}, &why, {.lzw = true}), 1) << why;
        const Bytes plain = test::readBytes(plainPath), lzw = test::readBytes(lzwPath);
        test::DecodedGif expected, got;
        ASSERT_TRUE(test::decodeGifFile(plainPath.string(), expected, &why)) << why;
        ASSERT_TRUE(test::decodeGifFile(lzwPath.string(), got, &why)) << why;
        if (c.pattern != keep) {
            EXPECT_EQ(expected.pixels, sample.indices);
        }
        expected.colours.resize(std::size_t{1} << c.tableBits);
        EXPECT_EQ(std::tie(got.imageWidth, got.imageHeight, got.transparent, got.transparentIndex, got.colours, got.pixels),
                  std::tie(expected.imageWidth, expected.imageHeight, expected.transparent, expected.transparentIndex,
                           expected.colours, expected.pixels));
        EXPECT_EQ(lzw[10], 0xF0 | (c.tableBits - 1)) << "table size bits";
        EXPECT_EQ(lzw[13 + 3 * (std::size_t{1} << c.tableBits) + 18], std::max(2, c.tableBits)) << "minimum code size";
        EXPECT_LE(lzw.size(), plain.size());
        EXPECT_EQ(lzw == plain, c.plain);
    }
}
#endif

TEST_F(GifWriterTest, RefusesPicturesItCannotWrite) {
    const std::pair<void (*)(Picture&), const char*> cases[] = {
        {[](Picture& p) { p.dib.clear(); }, "there is no picture to save"},
        {[](Picture& p) { p.height = 0; }, "the picture has no pixels"},
        {[](Picture& p) { p.width = 70000; }, "picture is larger than 65535 pixels in width or height"},
        {[](Picture& p) { p.dib.pop_back(); }, "the picture's sizes do not fit its data"},  // rows past the end
    };
    for (const auto& [tweak, reason] : cases) {
        Picture picture = makePicture(8, 8, 8, 256).picture;
        tweak(picture);
        std::string why;
        EXPECT_EQ(writeGif(picture, (folder / "never.gif").string().c_str(), 0, {}, &why), 0) << reason;
        EXPECT_EQ(why, reason);
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

// A plain bitmap read a band of rows at a time makes the file its loaded
// picture makes, with a transparent colour or without: every header kind,
// both row orders, rows with padding, bands cut inside the picture (the
// 8-bit ones span several), and a transparent colour that a second entry
// repeats. Other bitmaps are left to a whole load.
TEST_F(GifWriterTest, BandsMakeTheFileTheLoadedPictureMakes) {
    struct Case { std::uint32_t header; std::int32_t width, height; std::uint16_t bits; std::uint32_t colours; };
    const Case cases[] = {  // a negative height: rows top-down
        {40, 1, 1, 8, 0}, {40, 333, -1000, 8, 256}, {124, 3001, 300, 8, 7},
        {40, 4097, -70, 1, 2}, {64, 31, 9, 1, 0}, {12, 50, 7, 1, 2},
        {40, 13, 7, 4, 16}, {16, 17, -900, 4, 0}, {12, 9, 5, 4, 0},
        {40, 999, 401, 2, 4}, {108, 5, -3, 2, 0}, {12, 3, 2, 8, 0},
    };
    std::mt19937 random(3);
    for (const Case& c : cases) {
        test::BmpBuilder bmp;
        bmp.headerSize = c.header;
        bmp.width = c.width;
        bmp.height = c.height;
        bmp.bitCount = c.bits;
        bmp.clrUsed = c.colours;
        const std::size_t entrySize = c.header == 12 ? 3 : 4;
        bmp.table.resize(entrySize * (c.colours ? c.colours : 1u << c.bits));
        for (auto& byte : bmp.table) byte = static_cast<std::uint8_t>(random());
        // Entry 1 repeats entry 0, whose colour is the transparent one.
        std::copy_n(bmp.table.begin(), entrySize, bmp.table.begin() + static_cast<std::ptrdiff_t>(entrySize));
        bmp.pixels.resize(static_cast<std::size_t>(dibStride(c.bits, c.width) * std::abs(c.height)));
        for (auto& byte : bmp.pixels) byte = static_cast<std::uint8_t>(random());
        const test::TempFile input(".bmp", bmp.bytes());
        const std::string label = std::to_string(c.header) + "-byte header, " + std::to_string(c.width) + " x " +
                                  std::to_string(c.height) + ", " + std::to_string(c.bits) + " bits";

        Picture whole;
        whole.path = input.path();
        whole.fileType = FileType::bitmap;
        ASSERT_EQ(loadPicture(whole), 1) << label;
        const FilePtr file = openFile(input.path().c_str(), "rb");
        BitmapBands bands;
        ASSERT_EQ(openBitmapBands(Picture{}, file.get(), measureFile(file.get()), bands, nullptr), 1) << label;
        StreamedPicture streamed;
        streamed.head = &bands.head;
        streamed.rows = [&](const auto& use, std::string* why) { return readBitmapRows(bands, use, why); };

        const TransparentColour colour{bmp.table[2], bmp.table[1], bmp.table[0]};
        const TransparentColour absent{1, 2, 3};
        EXPECT_EQ(pictureHasColour(streamed, colour), pictureHasColour(whole, colour)) << label;
        EXPECT_EQ(pictureHasColour(streamed, absent), pictureHasColour(whole, absent)) << label;
        for (const int transparent : {0, 1}) {
            const fs::path loaded = folder / "loaded.gif", banded = folder / "banded.gif";
            ASSERT_EQ(writeGif(whole, loaded.string().c_str(), transparent, colour), 1) << label;
            ASSERT_EQ(writeGif(streamed, banded.string().c_str(), transparent, colour), 1) << label;
            EXPECT_EQ(test::readBytes(banded), test::readBytes(loaded)) << label << ", transparent " << transparent;
        }
    }

    const auto refused = [](test::BmpBuilder bmp) {
        const test::TempFile input(".bmp", bmp.bytes());
        const FilePtr file = openFile(input.path().c_str(), "rb");
        Picture limited;
        limited.maxPixels = 3;
        BitmapBands bands;
        return openBitmapBands(limited, file.get(), measureFile(file.get()), bands, nullptr) == 0;
    };
    test::BmpBuilder rle;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.pixels = {1, 0, 0, 1};
    EXPECT_TRUE(refused(rle));
    EXPECT_TRUE(refused(test::BmpBuilder{}));  // 24 bits
    test::BmpBuilder cut;
    cut.bitCount = 8;
    cut.width = 3;
    cut.pixels.pop_back();  // a row short of its padding
    EXPECT_TRUE(refused(cut));
    test::BmpBuilder large = cut;
    large.width = 4;
    large.pixels = {0, 0, 0, 0};
    EXPECT_TRUE(refused(large));  // more pixels than the limit
}

// Rows that stop coming (a file cut short while it was read) fail the save
// with their reason, and whatever stood at the path stays as it was.
TEST_F(GifWriterTest, RowsThatStopComingKeepTheOldFile) {
    const Picture head = makePicture(64, 64, 8, 256).picture;
    StreamedPicture streamed;
    streamed.head = &head;
    streamed.rows = [](const auto& use, std::string* why) {
        const Bytes row(64, 5);
        for (int i = 0; i < 10; ++i) use(row);
        return fail(why, "pixel data runs past the end of the file");
    };
    const fs::path old = folder / "old.gif";
    std::ofstream(old, std::ios::binary) << "old";
    std::string why;
    EXPECT_EQ(writeGif(streamed, old.string().c_str(), 0, {}, &why), 0);
    EXPECT_EQ(why, "pixel data runs past the end of the file");
    EXPECT_EQ(test::readBytes(old), Bytes({'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary file was left";
}

#ifndef _WIN32
// A full disk: a 64 KiB file system holding an old file, and pictures too
// large for it, one of them larger than the write buffer, whose writes go
// on behind the packing. The save fails with its reason and leaves the old
// file whole; a stream that fills up fails with the system's reason.
TEST_F(GifWriterTest, FailedSaveKeepsTheOldFile) {
    const Picture large = makePicture(1800, 1300, 8, 256).picture;
    for (const Picture& picture : {makePicture(300, 300, 8, 256).picture, large}) {
        SCOPED_TRACE(picture.width);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
        std::ofstream(folder / "old.gif", std::ios::binary) << std::string(1000, 'B');
        std::string why;
        EXPECT_EQ(writeGif(picture, (folder / "old.gif").string().c_str(), 0, {}, &why), 0);
        EXPECT_EQ(why, "disk full or write error while writing the GIF");
        EXPECT_EQ(test::readBytes(folder / "old.gif"), Bytes(1000, 'B'));  // the stream is closed again before the unmount
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary file was left";
        ::umount(folder.c_str());
    }
    const FilePtr full = openFile("/dev/full", "wb");
    ASSERT_TRUE(full);
    std::string why;
    EXPECT_EQ(writeGifToStream(large, full.get(), 0, {}, &why), 0);
    EXPECT_EQ(why, "write error while writing the GIF: no space left on device");
}
#endif

}  // namespace
}  // namespace quolb
