#include <gtest/gtest.h>

#include "loaders.h"
#include "support/picture_checks.h"

namespace quolb {
namespace {

TEST(Tim, LoadsTheRightWayUpWithTheWidthFieldAfterTheClutOrTheColoursReadWhicheverIsLater) {
    auto big = test::patternTim(4, 3, 2);  // 256 colours stored (L = 524), 16 read
    big.clut.resize(256, 0x7FFF);
    auto small = test::patternTim(8, 2, 2);  // L = 12, too small for the 256 colours read
    small.clutLength = 12;
    for (const auto& spec : {test::patternTim(8, 5, 7), test::patternTim(4, 5, 7), big, small}) {
        test::TempFile file("pattern.tim", test::timFile(spec));
        Picture picture;
        std::string why;
        ASSERT_EQ(test::loadFile(picture, file, FileType::tim, &why), 1) << why;
        test::expectPictureMatches(picture, spec, file.path() + ".gif");
    }
}

TEST(Tim, MalformedInputFailsWithAReason) {
    const auto good = test::timFile(test::patternTim(8, 4, 3));  // L = 524: width at 8 + 532
    const auto with = [&good](std::size_t at, std::vector<std::uint8_t> bytes) {
        auto out = good;
        std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        return out;
    };
    const auto cut = [](const std::vector<std::uint8_t>& bytes, std::size_t n) {
        return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    };
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{0x10, 0, 0, 1, 9}, "not a TIM picture (wrong identifier)"},
        {{0x10, 0, 0}, "not a TIM picture (wrong identifier)"},  // a short file reads 255 past its end
        {with(4, {2}), "TIM pictures with flags 2 are not supported"},
        {{0x10, 0, 0, 0, 9, 0, 0}, "TIM pictures with flags 4278190089 are not supported"},
        {cut(good, 8), "TIM data ends before its colour table"},
        {with(8, {11, 0}), "TIM colour table block is shorter than its header"},
        {cut(good, 8 + 523), "colour table runs past the end of the data"},
        {cut(test::timFile(test::patternTim(4, 1, 1)), 8 + 43), "colour table runs past the end of the data"},
        {cut(good, 8 + 535), "TIM image header runs past the end of the data"},
        {with(8, {0xFF, 0xFF, 0xFF, 0xFF}), "TIM image header runs past the end of the data"},  // L + 8 > 4 GiB
        {cut(good, good.size() - 1), "pixel data runs past the end of the data"},
        {with(8 + 532, {0, 0}), "picture has no pixels"},
        {with(8 + 534, {0, 0}), "picture has no pixels"},
        {test::timFile(test::patternTim(4, 16384, 1)), "picture is larger than 65535 pixels in width or height"},
    };
    for (const auto& [bytes, reason] : cases) {
        test::TempFile file("bad.tim", bytes);
        Picture picture;
        std::string why;
        EXPECT_EQ(test::loadFile(picture, file, FileType::tim, &why), 0) << reason;
        EXPECT_EQ(why, reason);
    }
    test::TempFile widest("widest.tim", test::timFile(test::patternTim(4, 16383, 1)));
    Picture picture;
    EXPECT_EQ(test::loadFile(picture, widest, FileType::tim, nullptr), 1) << "65532 pixels wide";
}

}  // namespace
}  // namespace quolb
