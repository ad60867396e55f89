#include <gtest/gtest.h>

#include "image/container.h"
#include "image/loaders.h"
#include "tests/support/lzss_writer.h"
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
        {{0x10, 0, 0, 0, 2, 0, 0, 0}, "TIM pictures with flags 2 are not supported"},
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

// Decodes a payload whole: the bytes, or "error: " and the reason. Fed a byte
// at a time (a reference's second byte then comes with the next piece), the
// decoder must end the same way.
std::string expand(const std::vector<std::uint8_t>& payload, int mode) {
    std::vector<std::uint8_t> out(lzssOutputSize + lzssSlack), fed(out.size());
    std::string why;
    const std::int64_t n = expandLzss(payload, mode, out, lzssOutputSize, &why);
    LzssDecoder decoder{mode, fed.data(), lzssOutputSize};
    for (std::size_t used = 0, end = 1; end <= payload.size(); ++end)
        used += feedLzss(decoder, std::span(payload).subspan(used, end - used), end == payload.size());
    fed.resize(decoder.error ? 0 : decoder.written);
    const std::string result = n < 0 ? "error: " + why : std::string(out.begin(), out.begin() + n);
    EXPECT_EQ(decoder.error ? "error: " + std::string(decoder.error) : std::string(fed.begin(), fed.end()), result)
        << "fed byte by byte in mode " << mode;
    return result;
}

TEST(Lzss, BackReferencesAtTheWindowEdgesAndPastThem) {
    std::string r(5000, '\0');
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<char>(i * 7 + i / 256);
    // After `written` literals from r, the reference: r[from, from + length) follows, or it fails with `why`.
    struct Case { std::size_t written; std::uint8_t b1, b2; int mode; std::size_t from, length; const char* why; };
    const Case cases[] = {
        {1000, 255, 1, 0, 999, 1, nullptr},
        {256, 0, 1, 0, 0, 1, nullptr},  // from N - 1 written on, the window slides
        {5000, 0xFF, 0xF1, 3, 4999, 1, nullptr},
        {5000, 0, 0, 2, 5000 - 4096, 2, nullptr},
        {255, 0, 1, 0, 0, 0, "back-reference before the start of the output"},
        {1, 0, 3, 0, 0, 0, "back-reference before the start of the output"},
        {1, 2, 3, 0, 0, 0, "back-reference past the bytes decoded so far"},
    };
    for (const auto& c : cases) {
        std::vector<test::LzssToken> tokens;
        for (std::size_t i = 0; i < c.written; ++i) tokens.push_back({false, static_cast<std::uint8_t>(r[i]), 0});
        tokens.push_back({true, c.b1, c.b2});
        EXPECT_EQ(expand(test::packLzss(tokens), c.mode),
                  c.why ? std::string("error: ") + c.why : r.substr(0, c.written) + r.substr(c.from, c.length))
            << c.written << " then " << int{c.b1} << "," << int{c.b2} << " in mode " << c.mode;
    }
}

TEST(Lzss, WorkedExamplesAndPayloadsCutShortOrTooLong) {
    // Mode 1 after x, y, z: offset 3 is position 2, length 5 repeats the z; the copy overlaps byte by byte.
    EXPECT_EQ(expand({0x10, 'x', 'y', 'z', 3, 3}, 1), "xyzzzzzz");
    // Three items of eight, then the payload ends; a reference without its second byte is dropped.
    EXPECT_EQ(expand({0x20, 'a', 'b', 0x01, 0x02}, 0), "abab");
    EXPECT_EQ(expand({0x20, 'a', 'b', 0x01}, 0), "ab");
    const std::vector<std::uint8_t> zeros(lzssOutputSize + 1, 0);
    EXPECT_EQ(expand(test::compressLzss(std::span(zeros).first(lzssOutputSize), 1), 1).size(), lzssOutputSize);
    EXPECT_EQ(expand(test::compressLzss(zeros, 1), 1), "error: compressed data decodes to more than 300000 bytes");
}

TEST(Container, RoundTripsInEveryModeThroughBothForms) {
    // The 8-bit picture is long enough for the 4096-byte window to slide.
    for (const auto& tim : {test::patternTim(8, 48, 48, 8), test::patternTim(4, 12, 9, 4)}) {
        const auto file = test::timFile(tim);
        for (std::uint8_t mode = 0; mode < 4; ++mode) {
            EXPECT_EQ(expand(test::compressLzss(std::span(file).subspan(1), mode), mode),
                      std::string(file.begin() + 1, file.end()));
            // A "TIM" 01 header means mode 3: a misread mode would decode garbage.
            for (const auto& bytes : {test::timFormContainer(file, mode), test::bu2FormContainer(file, mode, 'M'),
                                      test::bu2FormContainer(file, mode, 'L')}) {
                SCOPED_TRACE(std::string(bytes.begin(), bytes.begin() + 11) + " mode " + std::to_string(mode));
                test::expectLoadsAs(bytes, FileType::container, tim);
            }
        }
    }
}

TEST(Container, BadHeadersAndPayloadsFailWithAReason) {
    const auto tim = test::timFile(test::patternTim(8, 2, 2));
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {test::bytesOf("LZSS-bu2xxNxxxxx\x10"), "\"LZSS-bu2\" container header has neither \"M\" nor \"L\" at byte 10"},
        {test::bytesOf("LZSS-bu2xxLxxxxx\x11"), "\"LZSS-bu2\" container header does not end in 0x10"},
        {test::bytesOf("TIMxxxxx\x11"), "\"TIM\" container header does not end in 0x10"},
        {test::bytesOf("LZSS-bu3........."), "not a compressed container (unknown header)"},
        {test::bytesOf("TIM\x02"), "container header is cut short"},
        {test::bytesOf("LZSS-bu2M"), "container header is cut short"},
        {test::bytesOf(std::string("TIM\0xxxx\x10", 9)), "compressed data is too short to hold a TIM picture"},
        {test::bytesOf(std::string("TIM\0xxxx\x10\0\0\0\0\x02", 14)), "compressed data is not an 8-bit or 4-bit TIM picture"},
        {test::timFormContainer(std::span(tim).first(tim.size() - 1), 0), "pixel data runs past the end of the data"},
        {test::timFormContainer(tim, 4), "compression mode 4 is not supported"},
        {test::bytesOf(std::string("TIM\x02xxxx\x10\x80\x00\x02", 12)), "back-reference before the start of the output"},
    };
    for (const auto& [bytes, reason] : cases) {
        Picture picture;
        std::string why;
        loadContainer(picture, bytes, nullptr, &why);
        EXPECT_EQ(why, reason);
    }
    // The file reader shares the header and hand-over code; the mode check and decoding errors are its own.
    for (const auto& [bytes, reason] : {cases[9], cases[10]})
        EXPECT_EQ(test::loadBytes(bytes, FileType::container).why, reason) << "from the file";
}

TEST(Container, FileReaderMatchesTheInMemoryReaderAcrossPieces) {
    // 700,000 zero-length copies, then the picture: from item byte 9 the
    // groups of 17 bytes put a reference across the first 1 MiB piece's end.
    const auto tim = test::patternTim(8, 4, 4);
    const auto file = test::timFile(tim);
    const std::vector<test::LzssToken> nothing(700000, {true, 0, 0});
    const auto bytes = test::concat({test::bytesOf(std::string("TIM\0xxxx\x10", 9)), test::packLzss(nothing),
                                     test::compressLzss(std::span(file).subspan(1), 0)});
    test::expectLoadsAs(bytes, FileType::container, tim);
}

}  // namespace
}  // namespace quolb
