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

}  // namespace
}  // namespace quolb
