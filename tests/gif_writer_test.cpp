#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/reference_packer.h"
#include "writer.h"
#ifdef QUOLB_HAVE_GIFLIB
#include "gif_decode.h"
#endif
#ifndef _WIN32
#include <sys/mount.h>
#endif

namespace quolb {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

// A folder of its own for each test, removed afterwards.
class GifWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() / (std::string("quolb-gif-") + info->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    std::string pathOf(const char* name) const { return (folder / name).string(); }
    fs::path folder;
};

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A picture whose table entry i is (i*3+1, 255-i, i*7), so every entry differs.
Picture makePicture(std::int32_t width, std::int32_t height, std::uint16_t bits, std::int32_t colours) {
    Picture picture;
    EXPECT_EQ(allocateDib(picture, width, height, bits, colours, nullptr), 1);
    for (std::int32_t i = 0; i < colours; ++i) {
        std::uint8_t* quad = picture.dib.data() + dibHeaderSize + 4 * static_cast<std::size_t>(i);
        quad[2] = static_cast<std::uint8_t>(i * 3 + 1);
        quad[1] = static_cast<std::uint8_t>(255 - i);
        quad[0] = static_cast<std::uint8_t>(i * 7);
    }
    return picture;
}

std::uint8_t* rowOf(Picture& picture, std::int32_t y) {  // y counted from the top
    const std::size_t stride = static_cast<std::size_t>(picture.imageSize / picture.height);
    return picture.dib.data() + dibHeaderSize + 4 * static_cast<std::size_t>(picture.colorCount) +
           static_cast<std::size_t>(picture.height - 1 - y) * stride;
}

void setIndex(Picture& picture, std::uint16_t bits, std::int32_t x, std::int32_t y, std::uint8_t index) {
    std::uint8_t* row = rowOf(picture, y);
    const auto ux = static_cast<std::size_t>(x);
    if (bits == 8) row[ux] = index;
    if (bits == 4) row[ux / 2] = static_cast<std::uint8_t>(ux % 2 ? (row[ux / 2] & 0xF0) | index : (row[ux / 2] & 0x0F) | index << 4);
    if (bits == 1) row[ux / 8] = static_cast<std::uint8_t>(row[ux / 8] | index << (7 - ux % 8));
}

// Writes and checks the frame every file shares; returns the file's bytes.
Bytes writeAndRead(const Picture& picture, const std::string& path, int transparentGif = 0,
                   TransparentColour colour = {}) {
    std::string why;
    EXPECT_EQ(writeGif(picture, path.c_str(), transparentGif, colour, &why), 1) << why;
    Bytes file = readFile(path);
    const std::uint64_t pixels = std::uint64_t(static_cast<std::uint32_t>(picture.width)) * static_cast<std::uint32_t>(picture.height);
    const std::uint64_t b = (9 * (pixels + (pixels - 1) / 253 + 1) + 7) / 8;
    EXPECT_EQ(file.size(), 802 + b + (b + 254) / 255);
    if (file.size() < 802) return file;
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 6), (Bytes{'G', 'I', 'F', '8', '9', 'a'}));
    EXPECT_EQ(file[10], 0xF7);
    EXPECT_EQ(file[12], 0x31);
    EXPECT_EQ(Bytes(file.begin() + 781, file.begin() + 784), (Bytes{0x21, 0xF9, 4}));
    EXPECT_EQ(file[789], 0x2C);
    EXPECT_EQ(file[799], 8);
    EXPECT_EQ(file[file.size() - 2], 0);     // block terminator
    EXPECT_EQ(file[file.size() - 1], 0x3B);  // trailer
    return file;
}

TEST_F(GifWriterTest, OnePixelFileHasTheExpectedTail) {
    Picture picture = makePicture(1, 1, 8, 256);
    setIndex(picture, 8, 0, 0, 7);
    const Bytes file = writeAndRead(picture, pathOf("one.gif"));
    ASSERT_EQ(file.size(), 806u);
    EXPECT_EQ(Bytes(file.end() - 17, file.end()),
              (Bytes{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 8, 0x03, 0x07, 0x02, 0x02, 0x00, 0x3B}));
}

// The image data is compared with the bit-by-bit reference packer fed the
// pixels top row first: clear codes at 253, 254, 506, 507 pixels, one full
// sub-block at 15 x 15 (a 1058-byte file), and widths that leave row fill.
TEST_F(GifWriterTest, ImageDataMatchesTheReferencePacker) {
    const std::array<std::pair<std::int32_t, std::int32_t>, 9> shapes{
        {{253, 1}, {254, 1}, {1, 254}, {506, 1}, {507, 1}, {15, 15}, {5, 3}, {131, 7}, {64, 40}}};
    std::mt19937 random(5);
    for (const auto& [width, height] : shapes) {
        Picture picture = makePicture(width, height, 8, 256);
        std::fill(picture.dib.begin() + 1064, picture.dib.end(), 0xEE);  // fill bytes must not show
        Bytes pixels;
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x) {
                pixels.push_back(static_cast<std::uint8_t>(random() % 200));
                setIndex(picture, 8, x, y, pixels.back());
            }
        const Bytes file = writeAndRead(picture, pathOf("shape.gif"));
        const Bytes expected = test::referenceCodeStream(pixels);
        ASSERT_EQ(file.size(), 800 + expected.size() + 2) << width << "x" << height;
        EXPECT_EQ(Bytes(file.begin() + 800, file.end() - 2), expected) << width << "x" << height;
        if (width == 15) {
            EXPECT_EQ(file.size(), 1058u);
        }
    }
}

TEST_F(GifWriterTest, ColourTableAndTransparentIndex) {
    // A short table: its colours, then black; the picked colour's lowest index.
    Picture picture = makePicture(4, 2, 8, 16);
    Bytes file = writeAndRead(picture, pathOf("short.gif"), 1, {1 + 3 * 5, 250, 35});
    EXPECT_EQ(file[13 + 3 * 5], 16);
    EXPECT_EQ(file[13 + 3 * 5 + 1], 250);
    EXPECT_EQ(file[13 + 3 * 5 + 2], 35);
    EXPECT_EQ(Bytes(file.begin() + 13 + 3 * 16, file.begin() + 781), Bytes(3 * 240, 0));
    EXPECT_EQ(file[784], 1);
    EXPECT_EQ(file[787], 5);

    // Black is in no entry of the 16: the first zero entry, index 16, even with the flag off.
    file = writeAndRead(picture, pathOf("short.gif"), 0, {0, 0, 0});
    EXPECT_EQ(file[784], 0);
    EXPECT_EQ(file[787], 16);

    // A colour no entry has: index 0.
    file = writeAndRead(picture, pathOf("short.gif"), 1, {1, 2, 3});
    EXPECT_EQ(file[787], 0);

    // No table at all: DefaultPalette.
    Picture deep = makePicture(2, 2, 24, 0);
    file = writeAndRead(deep, pathOf("deep.gif"), 1, {224, 224, 192});
    EXPECT_EQ(Bytes(file.begin() + 13 + 3 * 7, file.begin() + 13 + 3 * 8), (Bytes{224, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 13 + 3 * 56, file.begin() + 13 + 3 * 57), (Bytes{0, 224, 0}));
    EXPECT_EQ(file[787], 255);
}

TEST_F(GifWriterTest, PicturesWithoutPixelsOrTooLargeAreRefused) {
    const std::string path = pathOf("never.gif");
    std::string why;
    Picture empty;
    EXPECT_EQ(writeGif(empty, path.c_str(), 0, {}, &why), 0);
    EXPECT_FALSE(why.empty());

    Picture flat = makePicture(4, 1, 8, 256);
    flat.height = 0;
    EXPECT_EQ(writeGif(flat, path.c_str(), 0, {}, &why), 0);

    Picture wide = makePicture(4, 1, 8, 256);
    wide.width = 70000;
    EXPECT_EQ(writeGif(wide, path.c_str(), 0, {}, &why), 0);

    Picture cut = makePicture(8, 8, 24, 0);  // the sizes claim more rows than the DIB holds
    cut.dib.resize(cut.dib.size() - 1);
    EXPECT_EQ(writeGif(cut, path.c_str(), 0, {}, &why), 0);

    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(GifWriterTest, FailedSaveKeepsTheOldFile) {
    std::string why;
    const Picture picture = makePicture(3, 3, 8, 256);
    EXPECT_EQ(writeGif(picture, (folder / "missing" / "x.gif").string().c_str(), 0, {}, &why), 0);
    EXPECT_EQ(why, "cannot create the GIF file");

#ifdef _WIN32
    GTEST_SKIP() << "no small file system to fill here";
#else
    // A full disk: a 64 KiB file system, an old file on it, a picture too large for it.
    const fs::path small = folder / "small";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    const std::string target = (small / "old.gif").string();
    const Bytes old(1000, 0x42);
    writeFile(target, old);
    const Picture big = makePicture(300, 300, 8, 256);
    const int result = writeGif(big, target.c_str(), 0, {}, &why);
    const Bytes after = readFile(target);
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(small)) left.push_back(entry.path());
    ::umount(small.c_str());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(why, "disk full or write error while writing the GIF");
    EXPECT_EQ(after, old);
    EXPECT_EQ(left, std::vector<fs::path>{target});
#endif
}

TEST_F(GifWriterTest, SavingOverAFileReplacesAllOfIt) {
    const std::string target = pathOf("over.gif");
    writeFile(target, Bytes(5000, 0x99));
    Picture picture = makePicture(1, 1, 8, 256);
    setIndex(picture, 8, 0, 0, 7);
    const Bytes file = writeAndRead(picture, target);
    EXPECT_EQ(file.size(), 806u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_EQ(writeAndRead(picture, target), file);  // the same picture twice: the same file
}

#ifdef QUOLB_HAVE_GIFLIB
void setColour(Picture& picture, std::uint16_t bits, std::int32_t x, std::int32_t y, Rgb c) {
    std::uint8_t* row = rowOf(picture, y);
    const auto ux = static_cast<std::size_t>(x);
    if (bits == 16) {
        const unsigned v = unsigned{c[0]} >> 3 << 10 | unsigned{c[1]} >> 3 << 5 | unsigned{c[2]} >> 3;
        row[2 * ux] = static_cast<std::uint8_t>(v);
        row[2 * ux + 1] = static_cast<std::uint8_t>(v >> 8);
    } else {
        std::uint8_t* p = row + ux * (bits / 8u);
        p[0] = c[2];
        p[1] = c[1];
        p[2] = c[0];
    }
}

// The file's colour table as the writer must build it.
std::vector<Rgb> expectedTable(const Picture& picture) {
    std::vector<Rgb> table(256, Rgb{0, 0, 0});
    for (std::size_t i = 0; i < 256; ++i) {
        if (picture.colorCount == 0) {
            table[i] = {DefaultPalette[i].red, DefaultPalette[i].green, DefaultPalette[i].blue};
        } else if (i < static_cast<std::size_t>(picture.colorCount)) {
            const std::uint8_t* quad = picture.dib.data() + dibHeaderSize + 4 * i;
            table[i] = {quad[2], quad[1], quad[0]};
        }
    }
    return table;
}

std::uint8_t nearestIndex(const std::vector<Rgb>& table, Rgb c) {
    int best = 1 << 30;
    std::uint8_t index = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        int d = 0;
        for (std::size_t k = 0; k < 3; ++k) d += (table[i][k] - c[k]) * (table[i][k] - c[k]);
        if (d < best) {
            best = d;
            index = static_cast<std::uint8_t>(i);
        }
    }
    return index;
}

// Decodes with giflib and compares size, table, transparency and every pixel.
void expectDecodesTo(const std::string& path, const Picture& picture, const Bytes& indices, int transparentGif,
                     int transparentIndex) {
    test::DecodedGif gif;
    std::string why;
    ASSERT_TRUE(test::decodeGifFile(path, gif, &why)) << why;
    EXPECT_EQ(gif.screenWidth, picture.width);
    EXPECT_EQ(gif.imageHeight, picture.height);
    EXPECT_EQ(gif.imageWidth, picture.width);
    const auto table = expectedTable(picture);
    ASSERT_EQ(gif.colours.size(), 256u);
    for (std::size_t i = 0; i < 256; ++i) EXPECT_EQ(gif.colours[i], table[i]) << "entry " << i;
    EXPECT_TRUE(gif.hasControlExtension);
    EXPECT_EQ(gif.transparent, transparentGif == 1);
    EXPECT_EQ(gif.transparentIndex, transparentIndex);
    EXPECT_EQ(gif.pixels, indices);
}

TEST_F(GifWriterTest, IndexedPicturesRoundTripThroughGiflib) {
    struct Case { std::int32_t width, height; std::uint16_t bits; std::int32_t colours; };
    const Case cases[] = {{1, 1, 8, 256}, {254, 1, 8, 256}, {23, 22, 8, 256}, {37, 29, 8, 16}, {9, 7, 4, 16},
                          {13, 5, 4, 3}, {33, 9, 1, 2}, {7, 300, 1, 2}, {640, 3, 8, 200}};
    std::mt19937 random(6);
    for (const Case& c : cases) {
        Picture picture = makePicture(c.width, c.height, c.bits, c.colours);
        Bytes indices;
        for (std::int32_t y = 0; y < c.height; ++y)
            for (std::int32_t x = 0; x < c.width; ++x) {
                indices.push_back(static_cast<std::uint8_t>(random() % (1u << std::min<int>(c.bits, 8))));
                setIndex(picture, c.bits, x, y, indices.back());
            }
        const std::string path = pathOf("indexed.gif");
        writeAndRead(picture, path, 1, {4, 254, 7});  // entry 1 of every table
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " + std::to_string(c.bits) + " bits");
        expectDecodesTo(path, picture, indices, 1, 1);
    }
}

TEST_F(GifWriterTest, DeepPicturesSendTheNearestColour) {
    std::mt19937 random(8);
    for (const std::uint16_t bits : {std::uint16_t{16}, std::uint16_t{24}, std::uint16_t{32}})
        for (const std::int32_t colours : {0, 5, 256}) {
            Picture picture = makePicture(19, 11, bits, colours);
            const auto table = expectedTable(picture);
            Bytes indices;
            for (std::int32_t y = 0; y < 11; ++y)
                for (std::int32_t x = 0; x < 19; ++x) {
                    Rgb c{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                          static_cast<std::uint8_t>(random())};
                    // With a table of its own, 24- and 32-bit pixels take the table's colours,
                    // which must come back as their own index; other colours are near enough.
                    if (colours > 0 && bits != 16) c = table[random() % static_cast<unsigned>(colours)];
                    if (bits == 16) c = {static_cast<std::uint8_t>(c[0] & 0xF8), static_cast<std::uint8_t>(c[1] & 0xF8),
                                         static_cast<std::uint8_t>(c[2] & 0xF8)};
                    setColour(picture, bits, x, y, c);
                    if (bits == 16)  // a 5-bit channel v shows as v << 3 | v >> 2
                        for (auto& channel : c) channel = static_cast<std::uint8_t>(channel | channel >> 5);
                    indices.push_back(nearestIndex(table, c));
                }
            const std::string path = pathOf("deep.gif");
            writeAndRead(picture, path);
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(colours) + " colours");
            expectDecodesTo(path, picture, indices, 0, colours == 5 ? 5 : 0);
        }
}
#endif

}  // namespace
}  // namespace quolb
