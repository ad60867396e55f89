#include <gtest/gtest.h>

#include "loaders.h"
#include "support/picture_checks.h"
#include "support/tim_builder.h"
#include "tim.h"

namespace quolb {
namespace {

using test::TempFile;

struct Loaded {
    Picture picture;
    std::string why;
    int result = 0;
};

Loaded loadTim(const std::vector<std::uint8_t>& bytes, const std::string& name = "tim.tim") {
    TempFile file(name, bytes);
    Loaded out;
    out.picture.archiveOffset = 77;
    out.result = test::loadBytes(out.picture, file, FileType::tim, &out.why);
    return out;
}

TEST(TimFile, LoadsEightAndFourBitPicturesTheRightWayUp) {
    for (int depth : {8, 4}) {
        const auto spec = test::patternTim(depth, 5, 7);
        TempFile file("pattern.tim", test::timFile(spec));
        Picture picture;
        std::string why;
        ASSERT_EQ(test::loadBytes(picture, file, FileType::tim, &why), 1) << why;
        EXPECT_EQ(picture.dib.size(), (depth == 8 ? 1064u : 104u) + static_cast<std::size_t>(picture.imageSize));
        test::expectPictureMatches(picture, test::expectedPicture(spec), file.path + ".gif");
    }
}

TEST(TimFile, ShapeOfSmallPictures) {
    // 8-bit, W = 3, H = 2: 6 pixels wide, stride 8.
    auto eight = loadTim(test::timFile(test::patternTim(8, 3, 2)));
    ASSERT_EQ(eight.result, 1) << eight.why;
    EXPECT_EQ(eight.picture.width, 6);
    EXPECT_EQ(eight.picture.imageSize, 16);
    EXPECT_EQ(eight.picture.dib.size(), 1080u);
    EXPECT_EQ(eight.picture.archiveOffset, 0);

    // 4-bit, W = 1, H = 1: bytes 21 43 become 12 34, colours 1, 2, 3, 4.
    auto spec = test::patternTim(4, 1, 1);
    spec.pixels = {0x21, 0x43};
    auto four = loadTim(test::timFile(spec));
    ASSERT_EQ(four.result, 1) << four.why;
    EXPECT_EQ(four.picture.width, 4);
    EXPECT_EQ(four.picture.dib.size(), 108u);
    EXPECT_EQ(four.picture.dib[104], 0x12);
    EXPECT_EQ(four.picture.dib[105], 0x34);
}

TEST(TimFile, ColoursWidenFiveBitsAndIgnoreBit15) {
    auto spec = test::patternTim(4, 1, 1);
    spec.clut = {0x7FFF, 0x8000, 0x001F, 0x03E0, 0x7C00, 1, 16, 30, 0, 0, 0, 0, 0, 0, 0, 0};
    auto loaded = loadTim(test::timFile(spec));
    ASSERT_EQ(loaded.result, 1) << loaded.why;
    const auto& p = loaded.picture.palette;
    EXPECT_EQ(p[0], (PaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(p[1], (PaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(p[2], (PaletteEntry{255, 0, 0, 0}));
    EXPECT_EQ(p[3], (PaletteEntry{0, 255, 0, 0}));
    EXPECT_EQ(p[4], (PaletteEntry{0, 0, 255, 0}));
    EXPECT_EQ(p[5].red, 8);
    EXPECT_EQ(p[6].red, 131);
    EXPECT_EQ(p[7].red, 246);
}

TEST(TimFile, WidthFieldFollowsTheClutBlockOrTheColoursReadWhicheverIsLater) {
    // A 4-bit picture with 256 colours in its CLUT (L = 524) uses the first 16.
    auto big = test::patternTim(4, 3, 2);
    for (unsigned i = 16; i < 256; ++i) big.clut.push_back(0x7FFF);
    ASSERT_EQ(test::timData(big)[532], 3);
    auto loaded = loadTim(test::timFile(big));
    ASSERT_EQ(loaded.result, 1) << loaded.why;
    big.clut.resize(16);
    test::expectDibMatches(loaded.picture, test::expectedPicture(big));

    // L too small for the colours read: the width follows the colours.
    auto small = test::patternTim(8, 2, 2);
    small.clutLength = 12;
    loaded = loadTim(test::timFile(small));
    ASSERT_EQ(loaded.result, 1) << loaded.why;
    test::expectDibMatches(loaded.picture, test::expectedPicture(small));
}

TEST(TimFile, WrongIdentifierOrFlagsAreRefused) {
    const std::vector<std::uint8_t> good = test::timFile(test::patternTim(8, 1, 1));
    for (int flags : {0, 2, 3, 10}) {
        auto bytes = good;
        bytes[4] = static_cast<std::uint8_t>(flags);
        const auto loaded = loadTim(bytes);
        EXPECT_EQ(loaded.result, 0);
        EXPECT_EQ(loaded.why, "TIM pictures with flags " + std::to_string(flags) + " are not supported");
        EXPECT_TRUE(loaded.picture.dib.empty());
        EXPECT_EQ(loaded.picture.archiveOffset, 0);
    }
    auto bytes = good;
    bytes[3] = 1;
    EXPECT_EQ(loadTim(bytes).why, "not a TIM picture (wrong identifier)");
    // A short file reads 255 past its end and fails the same check.
    EXPECT_EQ(loadTim({0x10, 0, 0}).why, "not a TIM picture (wrong identifier)");
    EXPECT_EQ(loadTim({0x10, 0, 0, 0, 9, 0, 0}).why, "TIM pictures with flags 4278190089 are not supported");
}

TEST(TimData, BlocksThatClaimMoreThanThereIsFailWithAReason) {
    const auto spec = test::patternTim(8, 4, 3);
    const auto data = test::timData(spec);
    const auto check = [](std::vector<std::uint8_t> bytes, const std::string& reason, int depth = 8) {
        Picture picture;
        std::string why;
        const int result = depth == 8 ? decodeTim8(picture, bytes, &why) : decodeTim4(picture, bytes, &why);
        EXPECT_EQ(result, 0) << reason;
        EXPECT_EQ(why, reason);
        EXPECT_TRUE(picture.dib.empty());
        EXPECT_TRUE(picture.palette.empty());
    };
    check({}, "TIM data ends before its colour table");
    check({0x0B, 0, 0, 0}, "TIM colour table block is shorter than its header");
    check({data.begin(), data.begin() + 500}, "colour table runs past the end of the data");
    check({data.begin(), data.begin() + 40}, "colour table runs past the end of the data", 4);
    check({data.begin(), data.begin() + 12 + 512 + 10}, "TIM image header runs past the end of the data");
    check({data.begin(), data.end() - 1}, "pixel data runs past the end of the data");

    auto huge = data;
    huge[0] = huge[1] = huge[2] = huge[3] = 0xFF;  // L + 8 past 4 GiB, computed without wrapping
    check(huge, "TIM image header runs past the end of the data");

    for (std::size_t field : {12u + 512 + 8, 12u + 512 + 10}) {
        auto empty = data;
        empty[field] = empty[field + 1] = 0;
        check(empty, "picture has no pixels");
    }
}

TEST(TimData, FourBitRowsWiderThanAGifCanHoldAreRefused) {
    auto spec = test::patternTim(4, 16384, 1);
    Picture picture;
    std::string why;
    EXPECT_EQ(decodeTim4(picture, test::timData(spec), &why), 0);
    EXPECT_FALSE(why.empty());
    EXPECT_TRUE(picture.dib.empty());
    spec = test::patternTim(4, 16383, 1);
    EXPECT_EQ(decodeTim4(picture, test::timData(spec), &why), 1) << why;
    EXPECT_EQ(picture.width, 65532);
}

}  // namespace
}  // namespace quolb
