#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "byte_reader.h"
#include "support/gif_decode.h"
#include "support/reference_packer.h"
#include "writer.h"
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

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's colour table: the picture's own (entry i is (3i+1, 255-i, 7i),
// all different, none black), black past its end, or DefaultPalette.
std::vector<Rgb> fileTable(std::int32_t colours) {
    std::vector<Rgb> table(256);
    for (std::size_t i = 0; i < 256; ++i) {
        if (colours == 0) table[i] = {DefaultPalette[i].red, DefaultPalette[i].green, DefaultPalette[i].blue};
        if (i < static_cast<std::size_t>(colours))
            table[i] = {static_cast<std::uint8_t>(3 * i + 1), static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(7 * i)};
    }
    return table;
}

std::uint8_t nearestIndex(const std::vector<Rgb>& table, Rgb c) {
    std::vector<int> distances;
    for (const Rgb& t : table)
        distances.push_back((t[0] - c[0]) * (t[0] - c[0]) + (t[1] - c[1]) * (t[1] - c[1]) + (t[2] - c[2]) * (t[2] - c[2]));
    return static_cast<std::uint8_t>(std::min_element(distances.begin(), distances.end()) - distances.begin());
}

// A picture of random pixels; `indices` gets the index each must be sent as,
// top row first: its own at 1, 4 and 8 bits, the nearest colour's deeper. A
// table of its own gives 24- and 32-bit pictures its colours, which must map
// to themselves; a 16-bit channel v shows as v << 3 | v >> 2.
Picture makePicture(std::int32_t width, std::int32_t height, std::uint16_t bits, std::int32_t colours, Bytes& indices) {
    static std::mt19937 random(6);
    Picture picture;
    EXPECT_EQ(allocateDib(picture, width, height, bits, colours, nullptr), 1);
    const auto table = fileTable(colours);
    for (std::size_t i = 0; i < static_cast<std::size_t>(colours); ++i)
        std::copy(table[i].rbegin(), table[i].rend(), picture.dib.data() + dibHeaderSize + 4 * i);
    const auto stride = static_cast<std::size_t>(picture.imageSize / height);
    for (std::size_t y = 1; y <= static_cast<std::size_t>(height); ++y) {
        std::uint8_t* row = picture.dib.data() + picture.dib.size() - y * stride;  // rows go bottom-up
        for (std::size_t bit = 0; bit < static_cast<std::size_t>(width) * bits; bit += bits) {
            Rgb c{};
            for (auto& channel : c) channel = static_cast<std::uint8_t>(random());
            if (colours > 0 && bits > 16) c = table[random() % static_cast<std::size_t>(colours)];
            if (bits == 16)
                for (auto& channel : c) channel = static_cast<std::uint8_t>((channel & 0xF8) | channel >> 5);
            indices.push_back(bits <= 8 ? static_cast<std::uint8_t>(random() % (1u << bits)) : nearestIndex(table, c));
            if (bits <= 8)
                row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | indices.back() << (8 - bits - static_cast<int>(bit % 8)));
            else if (bits == 16)
                storeU16(row + bit / 8, static_cast<std::uint16_t>(c[0] >> 3 << 10 | c[1] >> 3 << 5 | c[2] >> 3));
            else
                std::copy(c.rbegin(), c.rend(), row + bit / 8);
        }
    }
    return picture;
}

// Each file, written over the larger one before it, holds the reference
// packer's code stream for its pixels, the block terminator and trailer;
// giflib decodes it to the picture's size, the file's table, the transparent
// flag and index, and every pixel.
TEST_F(GifWriterTest, RoundTripsThroughGiflib) {
    struct Case { std::int32_t width, height; std::uint16_t bits; std::int32_t colours; int flag; TransparentColour colour; int index; std::size_t size; };
    // The transparent index is the colour's first entry, black past the
    // table's end included, or 0 when none matches; the flag off keeps it.
    const Case cases[] = {
        {7, 300, 1, 2, 1, {0, 0, 0}, 2, 0},
        {507, 1, 8, 200, 1, {1, 2, 3}, 0, 0},
        {23, 22, 8, 256, 0, {4, 254, 7}, 1, 0},  // 506 pixels
        {33, 9, 16, 5, 0, {0, 0, 0}, 5, 0},
        {254, 1, 8, 256, 1, {4, 254, 7}, 1, 0},
        {15, 15, 8, 16, 0, {0, 0, 0}, 16, 1058},  // one full sub-block
        {19, 11, 24, 0, 1, {224, 224, 192}, 255, 0},
        {17, 11, 32, 5, 1, {13, 251, 28}, 4, 0},
        {13, 5, 4, 3, 1, {7, 253, 14}, 2, 0},
        {1, 1, 8, 256, 0, {}, 0, 806},
    };
    const fs::path path = folder / "round.gif";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.bits) + " bits");
        Bytes indices;
        std::string why;
        ASSERT_EQ(writeGif(makePicture(c.width, c.height, c.bits, c.colours, indices), path.string().c_str(), c.flag, c.colour, &why), 1) << why;
        const Bytes file = readFile(path);
        Bytes expected = test::referenceCodeStream(indices);
        expected.insert(expected.end(), {0x00, 0x3B});  // block terminator, trailer
        ASSERT_GE(file.size(), 800u);
        EXPECT_EQ(Bytes(file.begin() + 800, file.end()), expected);
        EXPECT_TRUE(c.size == 0 || file.size() == c.size) << file.size() << " bytes";
        if (c.width * c.height == 1) {  // the image descriptor and data by hand
            EXPECT_EQ(Bytes(file.end() - 17, file.end()), (Bytes{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 8, 3, indices[0], 2, 2, 0, 0x3B}));
        }
#ifdef QUOLB_HAVE_GIFLIB
        test::DecodedGif gif;
        ASSERT_TRUE(test::decodeGifFile(path.string(), gif, &why)) << why;
        EXPECT_EQ(gif.imageWidth, c.width);
        EXPECT_EQ(gif.imageHeight, c.height);
        EXPECT_EQ(gif.colours, fileTable(c.colours));
        EXPECT_EQ(gif.transparent, c.flag == 1);
        EXPECT_EQ(gif.transparentIndex, c.index);
        EXPECT_EQ(gif.pixels, indices);
#endif
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary file was left";
}

TEST_F(GifWriterTest, RefusesPicturesItCannotWrite) {
    const std::pair<void (*)(Picture&), const char*> cases[] = {
        {[](Picture& p) { p.dib.clear(); }, "there is no picture to save"},
        {[](Picture& p) { p.height = 0; }, "the picture has no pixels"},
        {[](Picture& p) { p.width = 70000; }, "a GIF holds at most 65535 pixels in width and height"},
        {[](Picture& p) { p.dib.pop_back(); }, "the picture's sizes do not fit its data"},  // rows past the end
    };
    Bytes indices;
    for (const auto& [tweak, reason] : cases) {
        Picture picture = makePicture(8, 8, 24, 0, indices);
        tweak(picture);
        std::string why;
        EXPECT_EQ(writeGif(picture, (folder / "never.gif").string().c_str(), 0, {}, &why), 0) << reason;
        EXPECT_EQ(why, reason);
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

#ifndef _WIN32
// A full disk: a 64 KiB file system holding an old file, and a picture too
// large for it. The save fails with its reason and leaves the old file whole.
TEST_F(GifWriterTest, FailedSaveKeepsTheOldFile) {
    const fs::path target = folder / "old.gif";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    std::ofstream(target, std::ios::binary) << std::string(1000, 'B');
    Bytes indices;
    std::string why;
    EXPECT_EQ(writeGif(makePicture(300, 300, 8, 256, indices), target.string().c_str(), 0, {}, &why), 0);
    EXPECT_EQ(why, "disk full or write error while writing the GIF");
    EXPECT_EQ(readFile(target), Bytes(1000, 'B'));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary file was left";
    ::umount(folder.c_str());
}
#endif

}  // namespace
}  // namespace quolb
