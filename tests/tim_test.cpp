#include <gtest/gtest.h>

#include "tests/support/picture_checks.h"

namespace quolb {
namespace {

TEST(Tim, LoadsTheRightWayUpWithTheWidthFieldAfterTheClutOrTheColoursReadWhicheverIsLater) {
    auto big = test::patternTim(4, 3, 2);  // 256 colours stored (L = 524), 16 read
    big.clut.resize(256, 0x7FFF);
    auto small = test::patternTim(8, 2, 2);  // L = 12, too small for the 256 colours read
    small.clutLength = 12;
    for (const auto& tim : {test::patternTim(8, 5, 7), test::patternTim(4, 5, 7), big, small})
        test::expectLoadsAs(test::timFile(tim), FileType::tim, tim);
}

TEST(Tim, MalformedOrTooWideInputFailsWithAReason) {
    auto shortBlock = test::patternTim(8, 4, 3);  // L = 524: width at 8 + 532
    const auto good = test::timFile(shortBlock);
    auto huge = shortBlock;
    shortBlock.clutLength = 11;
    huge.clutLength = 0xFFFFFFFF;  // L + 8 past 4 GiB
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{0x10, 0, 0, 1, 9}, "not a TIM picture (wrong identifier)"},
        {{0x10, 0, 0}, "not a TIM picture (wrong identifier)"},  // a short file reads 255 past its end
        {{0x10, 0, 0, 0, 4, 0, 0, 0}, "TIM pictures of kind 4 (flags 0x00000004) are not supported"},
        {{0x10, 0, 0, 0, 0x19, 0xF6, 0, 0}, "TIM pictures of kind 25 (flags 0x0000F619) are not supported"},
        {{good.begin(), good.begin() + 8}, "TIM data ends before its colour table"},
        {test::timFile(shortBlock), "TIM colour table block is shorter than its header"},
        {{good.begin(), good.begin() + 8 + 523}, "colour table runs past the end of the data"},
        {{good.begin(), good.begin() + 8 + 535}, "TIM image header runs past the end of the data"},
        {test::timFile(huge), "TIM image header runs past the end of the data"},
        {{good.begin(), good.end() - 1}, "pixel data runs past the end of the data"},
        {test::timFile(test::patternTim(8, 4, 0)), "picture has no pixels"},
        {test::timFile(test::patternTim(4, 16384, 1)), "picture is larger than 65535 pixels in width or height"},
        {test::timFile(test::patternTim(4, 16383, 1)), ""},  // 65532 pixels wide loads
    };
    for (const auto& [bytes, reason] : cases) EXPECT_EQ(test::loadBytes(bytes, FileType::tim).why, reason);
}

// Every kind the flags' low byte names, the upper bits ignored: the DIB's
// depth, its rows (bottom row first, padded) and its first table colour.
TEST(Tim, EveryKindLoadsByTheFlagsLowByte) {
    using Bytes = std::vector<std::uint8_t>;
    const std::vector<std::uint16_t> clut16 = {0x7FFF, 0x001F, 0x03E0, 0x7C00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Case { const char* name; Bytes file; std::uint16_t bitCount; Bytes rows; bool standIn; };
    const Case cases[] = {
        // 16-bit: 0x001F red, 0x7C00 blue; then 0x8000 black, 0x4210 grey 16.
        {"16-bit", test::timFileOfKind(0x02, 2, 2, {0x1F, 0, 0, 0x7C, 0, 0x80, 0x10, 0x42}), 24,
         {0, 0, 0, 131, 131, 131, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0}, false},
        {"16-bit after a CLUT to skip", test::timFileOfKind(0x0A, 1, 1, {0xE0, 0x03}, clut16), 24, {0, 255, 0, 0}, false},
        // 24-bit: W = 3 units = 6 bytes = two pixels of red, green, blue.
        {"24-bit", test::timFileOfKind(0x03, 3, 1, {255, 0, 0, 10, 20, 30}), 24, {0, 0, 255, 30, 20, 10, 0, 0}, false},
        {"8-bit, stray upper bits", test::timFileOfKind(0x0028F609, 1, 1, {1, 2}, std::vector<std::uint16_t>(256, 0x001F)), 8, {1, 2, 0, 0}, false},
        {"4-bit without a CLUT", test::timFileOfKind(0x00, 1, 1, {0x21, 0x43}), 4, {0x12, 0x34, 0, 0}, true},
        {"8-bit without a CLUT", test::timFileOfKind(0x01, 1, 1, {7, 200}), 8, {7, 200, 0, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto loaded = test::loadBytes(c.file, FileType::tim);
        ASSERT_EQ(loaded.why, "");
        EXPECT_EQ(pictureHeader(loaded.picture).biBitCount, c.bitCount);
        const auto rows = pixelRows(loaded.picture);
        EXPECT_EQ(Bytes(rows.begin(), rows.end()), c.rows);
        EXPECT_EQ(loaded.picture.note.empty(), !c.standIn);
        if (c.standIn) {  // the grey ramp ends in white
            EXPECT_EQ(loaded.picture.palette.back(), (PaletteEntry{255, 255, 255, 0}));
        }
    }
}

#ifdef QUOLB_HAVE_GIFLIB
// Colour 0x0000 is "draw nothing", 0x8000 opaque black: with zeroTransparent
// only the first becomes transparent, through a CLUT (two entries stored as
// 0x0000) and in direct colour alike.
TEST(Tim, ZeroTransparentMakesOnlyColourZeroTransparent) {
    std::vector<std::uint16_t> clut(16, 0x7FFF);
    clut[0] = clut[2] = 0;
    clut[1] = 0x8000;
    for (const auto& file : {test::timFileOfKind(0x08, 1, 1, {0x10, 0x32}, clut),
                             test::timFileOfKind(0x02, 4, 1, {0, 0, 0, 0x80, 0, 0, 0xFF, 0x7F})}) {
        const test::TempFile tim(".tim", file);
        test::expectTimGifMatches(tim.path(), true);
    }
}
#endif

}  // namespace
}  // namespace quolb
