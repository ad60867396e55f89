#include <gtest/gtest.h>

#include "container.h"
#include "loaders.h"
#include "support/lzss_writer.h"
#include "support/picture_checks.h"

namespace quolb {
namespace {

// Decodes a payload; the bytes, or "!" with the reason in `why`.
std::vector<std::uint8_t> expand(std::span<const std::uint8_t> payload, int mode, std::string* why = nullptr) {
    std::vector<std::uint8_t> out(lzssOutputSize + lzssSlack);
    const std::int64_t n = expandLzss(payload, mode, out, lzssOutputSize, why);
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return n < 0 ? test::bytesOf("!") : out;
}

TEST(Lzss, BackReferencesAtTheWindowEdgesAndPastThem) {
    std::vector<std::uint8_t> r(5000);
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    const struct {
        std::size_t written;  // literals from r first
        std::uint8_t b1, b2;
        int mode;
        std::size_t from, length;  // then these bytes of r are expected, or:
        const char* why;
    } cases[] = {
        {500, 0x12, 0x34, 2, 290, 6, nullptr},  // offset 291, length 6
        {500, 0x12, 0x34, 3, 290, 4, nullptr},
        {1000, 255, 1, 0, 999, 1, nullptr},
        {1000, 0, 1, 0, 1000 - 256, 1, nullptr},
        {5000, 0xFF, 0xF1, 3, 4999, 1, nullptr},
        {5000, 0, 0, 2, 5000 - 4096, 2, nullptr},
        {255, 254, 1, 0, 253, 1, nullptr},
        {256, 0, 1, 0, 0, 1, nullptr},
        {1, 0, 0x10, 3, 0, 0, nullptr},  // length 0 copies nothing
        {255, 0, 1, 0, 0, 0, "back-reference before the start of the output"},  // with N - 1 written
        {1, 0, 3, 0, 0, 0, "back-reference before the start of the output"},
        {0, 0, 2, 2, 0, 0, "back-reference before the start of the output"},
        {1, 2, 3, 0, 0, 0, "back-reference past the bytes decoded so far"},
    };
    for (const auto& c : cases) {
        std::vector<test::LzssToken> tokens;
        for (std::size_t i = 0; i < c.written; ++i) tokens.push_back(test::literal(r[i]));
        tokens.push_back(test::reference(c.b1, c.b2));
        std::string why;
        const auto want = test::concat({std::span(r).first(c.written), std::span(r).subspan(c.from, c.length)});
        SCOPED_TRACE(testing::Message() << c.written << " then " << int{c.b1} << "," << int{c.b2} << " " << c.mode);
        EXPECT_EQ(expand(test::packLzss(tokens), c.mode, &why), c.why ? test::bytesOf("!") : want);
        EXPECT_EQ(why, c.why ? c.why : "");
    }
}

TEST(Lzss, WorkedExamplesAndPayloadsCutShortOrTooLong) {
    // Mode 1 after x, y, z: offset 3 is position 2, length 5 repeats the z; copies overlap byte by byte.
    EXPECT_EQ(expand(std::vector<std::uint8_t>{0x10, 'x', 'y', 'z', 3, 3}, 1), test::bytesOf("xyzzzzzz"));
    EXPECT_EQ(expand(std::vector<std::uint8_t>{0x10, 'a', 'b', 'c', 1, 7}, 0), test::bytesOf("abcabcabca"));
    // Three items of eight, then the payload ends; a reference without its second byte is dropped.
    const std::vector<std::uint8_t> payload = {0x20, 'a', 'b', 0x01, 0x02};
    EXPECT_EQ(expand(payload, 0), test::bytesOf("abab"));
    EXPECT_EQ(expand(std::span(payload).first(4), 0), test::bytesOf("ab"));
    std::string why;
    const std::vector<std::uint8_t> zeros(lzssOutputSize + 1, 0);
    EXPECT_EQ(expand(test::compressLzss(std::span(zeros).first(lzssOutputSize), 1), 1).size(), lzssOutputSize);
    EXPECT_EQ(expand(test::compressLzss(zeros, 1), 1, &why), test::bytesOf("!"));
    EXPECT_EQ(why, "compressed data decodes to more than 300000 bytes");
}

TEST(Lzss, RoundTripsInEveryModeFedWholeOrByteByByte) {
    std::vector<std::uint8_t> data(20000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i >= 3000 && i < 9000 && i % 3 ? 0x55 : i * 7 + i / 40);
    for (int mode = 0; mode < 4; ++mode) {
        const auto payload = test::compressLzss(data, mode);
        EXPECT_LT(payload.size(), data.size()) << mode;
        EXPECT_EQ(expand(payload, mode), data) << mode;
        std::vector<std::uint8_t> out(lzssOutputSize + lzssSlack);
        LzssDecoder decoder{mode, out.data(), lzssOutputSize};
        std::vector<std::uint8_t> pending;
        for (std::size_t i = 0; i < payload.size(); ++i) {
            pending.push_back(payload[i]);
            const std::size_t used = feedLzss(decoder, pending, i + 1 == payload.size());
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
        }
        out.resize(decoder.written);
        EXPECT_TRUE(decoder.error == nullptr && out == data) << mode;
    }
}

TEST(Container, BothFormsInEveryModeLoadThePicture) {
    // A "TIM" 01 header means mode 3: a misread mode would decode garbage.
    for (const auto& spec : {test::patternTim(8, 12, 9, 8), test::patternTim(4, 12, 9, 4)}) {
        const auto tim = test::timFile(spec);
        for (std::uint8_t mode = 0; mode < 4; ++mode)
            for (const auto& bytes : {test::timFormContainer(tim, mode), test::bu2FormContainer(tim, mode, 'M'),
                                      test::bu2FormContainer(tim, mode, 'L')}) {
                SCOPED_TRACE(std::string(bytes.begin(), bytes.begin() + 4) + " mode " + std::to_string(mode));
                test::TempFile file("c.lzb", bytes);
                Picture picture;
                std::string why;
                ASSERT_EQ(test::loadFile(picture, file, FileType::container, &why), 1) << why;
                test::expectPictureMatches(picture, spec, file.path() + ".gif");
            }
    }
}

TEST(Container, BadHeadersAndPayloadsFailWithAReason) {
    const auto tim = test::timFile(test::patternTim(8, 2, 2));
    auto flags = tim;
    flags[4] = 2;
    const auto with = [](std::vector<std::uint8_t> bytes, std::size_t at, std::uint8_t value) {
        bytes.at(at) = value;
        return bytes;
    };
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {test::bu2FormContainer(tim, 2, 'N'), "\"LZSS-bu2\" container header has neither \"M\" nor \"L\" at byte 10"},
        {with(test::bu2FormContainer(tim, 2), 16, 0x11), "\"LZSS-bu2\" container header does not end in 0x10"},
        {with(test::timFormContainer(tim, 2), 8, 0), "\"TIM\" container header does not end in 0x10"},
        {test::bytesOf("LZSS-bu3........."), "not a compressed container (unknown header)"},
        {test::bytesOf("TIM\x02"), "container header is cut short"},
        {test::bytesOf("LZSS-bu2M"), "container header is cut short"},
        {test::timFormContainer(tim, 4), "compression mode 4 is not supported"},
        {test::bu2FormContainer(tim, 9), "compression mode 9 is not supported"},
        {test::bytesOf(std::string("TIM\0xxxx\x10", 9)), "compressed data is too short to hold a TIM picture"},
        {test::timFormContainer(flags, 0), "compressed data is not an 8-bit or 4-bit TIM picture"},
        {test::timFormContainer(std::span(tim).first(tim.size() - 1), 0), "pixel data runs past the end of the data"},
        {test::bytesOf(std::string("TIM\x02xxxx\x10\x80\x00\x02", 12)),
         "back-reference before the start of the output"},
    };
    for (const auto& [bytes, reason] : cases) {
        Picture picture;
        std::string why;
        loadContainer(picture, bytes, nullptr, &why);
        EXPECT_EQ(why, reason);
        test::TempFile file("bad.lzb", bytes);
        why.clear();
        EXPECT_EQ(test::loadFile(picture, file, FileType::container, &why), 0);
        EXPECT_EQ(why, reason) << "from the file";
    }
}

TEST(Container, FileReaderMatchesTheInMemoryReaderAcrossPieces) {
    // 700,000 zero-length copies, then the picture: from item byte 9 the
    // groups of 17 bytes put a reference across the first 1 MiB piece's end.
    const auto spec = test::patternTim(8, 4, 4);
    const auto tim = test::timFile(spec);
    const std::vector<test::LzssToken> nothing(700000, test::reference(0, 0));
    const auto bytes = test::concat({test::bytesOf(std::string("TIM\0xxxx\x10", 9)), test::packLzss(nothing),
                                     test::compressLzss(std::span(tim).subspan(1), 0)});
    ASSERT_EQ((std::size_t{1} << 20) % 17, 9u + 7);
    test::TempFile file("long.lzb", bytes);
    Picture picture;
    std::string why;
    ASSERT_EQ(test::loadFile(picture, file, FileType::container, &why), 1) << why;
    test::expectPictureMatches(picture, spec);
}

}  // namespace
}  // namespace quolb
