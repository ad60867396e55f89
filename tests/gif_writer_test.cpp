#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>

#include "tests/support/reference_packer.h"
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

// A picture of random pixels, the colour table its GIF must hold and the index
// each pixel must be sent as, top row first: its own at 1, 4 and 8 bits, deeper
// the first entry nearest its colour. The table is the picture's own (entry i
// is (3i+1, 255-i, 7i), all different, none black), black past its end, or
// DefaultPalette. A table of its own gives 24- and 32-bit pictures its colours,
// which must map to themselves; a 16-bit channel v shows as v << 3 | v >> 2.
struct Sample { Picture picture; std::vector<Rgb> table; Bytes indices; };

Sample makePicture(std::size_t width, std::size_t height, std::uint16_t bits, std::size_t own) {
    static std::mt19937 random(6);
    Sample s{{}, std::vector<Rgb>(256), {}};
    EXPECT_EQ(allocateDib(s.picture, std::int32_t(width), std::int32_t(height), bits, std::int32_t(own), nullptr), 1);
    for (std::size_t i = 0; i < 256; ++i) {
        if (own == 0) s.table[i] = {DefaultPalette[i].red, DefaultPalette[i].green, DefaultPalette[i].blue};
        if (i < own) s.table[i] = {std::uint8_t(3 * i + 1), std::uint8_t(255 - i), std::uint8_t(7 * i)};
        if (i < own) std::copy(s.table[i].rbegin(), s.table[i].rend(), s.picture.dib.data() + dibHeaderSize + 4 * i);
    }
    const auto square = [](int v) { return v * v; };
    const auto stride = static_cast<std::size_t>(s.picture.imageSize) / height;
    for (std::size_t p = 0; p < width * height; ++p) {
        // Rows go bottom-up; deep pixels are stored little-endian, blue first.
        std::uint8_t* at = s.picture.dib.data() + s.picture.dib.size() - (p / width + 1) * stride + p % width * bits / 8;
        Rgb c{std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random())};
        if (own > 0 && bits > 16) c = s.table[random() % own];
        for (auto& channel : c) channel = static_cast<std::uint8_t>(bits == 16 ? (channel & 0xF8) | channel >> 5 : channel);
        const auto distance = [&](const Rgb& t) { return square(t[0] - c[0]) + square(t[1] - c[1]) + square(t[2] - c[2]); };
        const auto nearest = [&] { return std::ranges::min_element(s.table, {}, distance) - s.table.begin(); };
        s.indices.push_back(static_cast<std::uint8_t>(bits <= 8 ? static_cast<long>(random() % (1u << bits)) : nearest()));
        const std::uint32_t value = bits == 16 ? std::uint32_t{c[0]} >> 3 << 10 | std::uint32_t{c[1]} >> 3 << 5 | c[2] >> 3
                                               : std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
        if (bits <= 8) *at = static_cast<std::uint8_t>(*at | s.indices.back() << (8 - bits - static_cast<int>(p % width * bits % 8)));
        for (std::size_t k = 0; bits > 8 && k < bits / 8u; ++k) at[k] = static_cast<std::uint8_t>(value >> 8 * k);
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
        {33, 9, 16, 5, 0, {0, 0, 0}, 5},
        {15, 15, 8, 16, 0, {0, 0, 0}, 16},  // 225 codes and the end code: one full sub-block
        {19, 11, 24, 0, 1, {224, 224, 192}, 255},
        {17, 11, 32, 5, 1, {13, 251, 28}, 4},
        {13, 5, 4, 3, 1, {7, 253, 14}, 2},
        {1, 1, 8, 256, 0, {}, 0},
    };
    const fs::path path = folder / "round.gif";
    std::ofstream(path) << std::string(5000, 'x');  // a longer file for the first GIF to replace
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + ", " + std::to_string(c.bits) + " bits");
        const Sample sample = makePicture(c.width, c.height, c.bits, c.colours);
        std::string why;
        ASSERT_EQ(writeGif(sample.picture, path.string().c_str(), c.flag, c.colour, &why), 1) << why;
        std::ifstream in(path, std::ios::binary);
        const Bytes file(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
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
    EXPECT_EQ(pictureHasColour(makePicture(4, 4, 24, 0).picture, {255, 0, 255}), 0);  // a table cannot name it
#ifdef QUOLB_HAVE_GIFLIB
    const fs::path path = folder / "duplicate.gif";
    ASSERT_EQ(writeGif(s.picture, path.string().c_str(), 1, colour), 1);
    test::DecodedGif gif;
    std::string why;
    ASSERT_TRUE(test::decodeGifFile(path.string(), gif, &why)) << why;
    EXPECT_EQ(gif.transparentIndex, 5);
    EXPECT_EQ(gif.pixels[15], 5);
    for (std::size_t i = 0; i < gif.pixels.size(); ++i)
        EXPECT_EQ(gif.pixels[i], s.indices[i] == 9 ? 5 : s.indices[i]) << i;
#endif
}

TEST_F(GifWriterTest, RefusesPicturesItCannotWrite) {
    const std::pair<void (*)(Picture&), const char*> cases[] = {
        {[](Picture& p) { p.dib.clear(); }, "there is no picture to save"},
        {[](Picture& p) { p.height = 0; }, "the picture has no pixels"},
        {[](Picture& p) { p.width = 70000; }, "a GIF holds at most 65535 pixels in width and height"},
        {[](Picture& p) { p.dib.pop_back(); }, "the picture's sizes do not fit its data"},  // rows past the end
    };
    for (const auto& [tweak, reason] : cases) {
        Picture picture = makePicture(8, 8, 24, 0).picture;
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
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    std::ofstream(folder / "old.gif", std::ios::binary) << std::string(1000, 'B');
    std::string why;
    EXPECT_EQ(writeGif(makePicture(300, 300, 8, 256).picture, (folder / "old.gif").string().c_str(), 0, {}, &why), 0);
    EXPECT_EQ(why, "disk full or write error while writing the GIF");
    const Bytes old(std::istreambuf_iterator<char>(std::ifstream(folder / "old.gif").rdbuf()), std::istreambuf_iterator<char>{});
    EXPECT_EQ(old, Bytes(1000, 'B'));  // the stream is closed again before the unmount
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "a temporary file was left";
    ::umount(folder.c_str());
}
#endif

}  // namespace
}  // namespace quolb
