#include <gtest/gtest.h>

#include <cstring>

#include "container.h"
#include "loaders.h"
#include "support/lzss_writer.h"
#include "support/picture_checks.h"
#include "support/tim_builder.h"

namespace quolb {
namespace {

using test::literal;
using test::LzssToken;
using test::reference;

std::vector<std::uint8_t> area() { return std::vector<std::uint8_t>(lzssOutputSize + lzssSlack); }

// Decodes a payload into a fresh area; the decoded bytes, or the reason.
std::vector<std::uint8_t> expand(std::span<const std::uint8_t> payload, int mode, std::string* why = nullptr,
                                 std::size_t capacity = lzssOutputSize) {
    auto out = area();
    const std::int64_t n = expandLzss(payload, mode, out, capacity, why);
    if (n < 0) return {'!'};
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::vector<std::uint8_t> expandTokens(std::initializer_list<LzssToken> tokens, int mode,
                                       std::string* why = nullptr) {
    return expand(test::packLzss(std::vector<LzssToken>(tokens)), mode, why);
}

std::vector<std::uint8_t> ramp(std::size_t n) {
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return out;
}

// Literals for `bytes`, then one back-reference.
std::vector<std::uint8_t> afterLiterals(const std::vector<std::uint8_t>& bytes, LzssToken ref, int mode,
                                        std::string* why = nullptr) {
    std::vector<LzssToken> tokens;
    for (auto b : bytes) tokens.push_back(literal(b));
    tokens.push_back(ref);
    return expand(test::packLzss(tokens), mode, why);
}

TEST(Lzss, WorkedExamples) {
    // Mode 1 after x, y, z: offset 3 is position 2, length 5 repeats the z.
    EXPECT_EQ(expandTokens({literal('x'), literal('y'), literal('z'), reference(3, 3)}, 1),
              test::bytesOf("xyzzzzzz"));
    // Overlap with a longer period repeats the pattern byte by byte.
    EXPECT_EQ(expandTokens({literal('a'), literal('b'), literal('c'), reference(1, 7)}, 0),
              test::bytesOf("abcabcabca"));
    // Offset 1 early on is the first byte; flag 0x80 puts the reference first in its group.
    const std::vector<std::uint8_t> payload = {0x00, 'p', 'q', 'r', 's', 't', 'u', 'v', 'w',
                                               0x80, 0x01, 0x02, '1', '2', '3', '4', '5', '6', '7'};
    EXPECT_EQ(expand(payload, 0), test::bytesOf("pqrstuvwpq1234567"));
    // Modes 2 and 3 read b1 = 0x12, b2 = 0x34 as offset 291, length 6 or 4.
    const auto before = ramp(500);
    auto two = afterLiterals(before, reference(0x12, 0x34), 2);
    ASSERT_EQ(two.size(), 506u);
    EXPECT_TRUE(std::equal(two.begin() + 500, two.end(), before.begin() + 290));
    auto three = afterLiterals(before, reference(0x12, 0x34), 3);
    ASSERT_EQ(three.size(), 504u);
    EXPECT_TRUE(std::equal(three.begin() + 500, three.end(), before.begin() + 290));
    // Zero lengths copy nothing but use both bytes.
    EXPECT_EQ(expandTokens({literal('a'), reference(1, 0), literal('b')}, 0), test::bytesOf("ab"));
    EXPECT_EQ(expandTokens({literal('a'), reference(0x00, 0x10), literal('b')}, 3), test::bytesOf("ab"));
}

TEST(Lzss, OffsetsAtTheWindowEdge) {
    const auto thousand = ramp(1000);
    auto last = afterLiterals(thousand, reference(255, 1), 0);
    EXPECT_EQ(last.back(), thousand[999]);
    auto far = afterLiterals(thousand, reference(0, 1), 0);
    EXPECT_EQ(far.back(), thousand[1000 - 256]);

    const auto many = ramp(5000);
    auto newest = afterLiterals(many, reference(0xFF, 0xF0), 2);  // offset 4095, length 2
    EXPECT_EQ(newest[5000], many[4999]);
    auto oldest = afterLiterals(many, reference(0x00, 0x00), 2);
    EXPECT_EQ(oldest[5000], many[5000 - 4096]);
    EXPECT_EQ(oldest[5001], many[5001 - 4096]);

    // With exactly N - 1 bytes written both readings agree.
    const auto edge = ramp(255);
    EXPECT_EQ(afterLiterals(edge, reference(254, 1), 0).back(), edge[253]);
    std::string why;
    EXPECT_EQ(afterLiterals(edge, reference(0, 1), 0, &why), std::vector<std::uint8_t>{'!'});
    EXPECT_EQ(why, "back-reference before the start of the output");
    EXPECT_EQ(afterLiterals(ramp(256), reference(0, 1), 0, &why).back(), 0);
}

TEST(Lzss, MalformedBackReferencesStopWithAReason) {
    std::string why;
    EXPECT_EQ(expandTokens({literal('a'), reference(0, 3)}, 0, &why), std::vector<std::uint8_t>{'!'});
    EXPECT_EQ(why, "back-reference before the start of the output");
    EXPECT_EQ(expandTokens({literal('a'), reference(2, 3)}, 0, &why), std::vector<std::uint8_t>{'!'});
    EXPECT_EQ(why, "back-reference past the bytes decoded so far");
    EXPECT_EQ(expandTokens({reference(0, 0x02)}, 2, &why), std::vector<std::uint8_t>{'!'});
    EXPECT_EQ(why, "back-reference before the start of the output");
}

TEST(Lzss, PayloadEndsMidGroupOrMidReference) {
    // Three items of eight, then the payload ends: the rest of the flag byte does nothing.
    EXPECT_EQ(expand(std::vector<std::uint8_t>{0x20, 'a', 'b', 0x01, 0x02}, 0), test::bytesOf("abab"));
    // A reference without its second byte is dropped and nothing past the payload is read.
    const std::vector<std::uint8_t> cut = {0x20, 'a', 'b', 0x01, 0x02, 0xFF};
    EXPECT_EQ(expand(std::span(cut).first(4), 0), test::bytesOf("ab"));
    EXPECT_EQ(expand({}, 0), std::vector<std::uint8_t>{});
}

TEST(Lzss, OutputStopsAtTheEndOfTheArea) {
    std::string why;
    const auto data = ramp(100);
    EXPECT_EQ(expand(test::compressLzss(data, 2), 2, &why, 100).size(), 100u);
    EXPECT_EQ(expand(test::compressLzss(data, 2), 2, &why, 99), std::vector<std::uint8_t>{'!'});
    EXPECT_EQ(why, "compressed data decodes to more than 300000 bytes");
    const std::vector<std::uint8_t> zeros(200, 0);
    EXPECT_EQ(expand(test::compressLzss(zeros, 1), 1, &why, 150), std::vector<std::uint8_t>{'!'});
}

TEST(Lzss, RoundTripsInEveryMode) {
    std::vector<std::uint8_t> data = ramp(20000);
    for (std::size_t i = 3000; i < 9000; ++i) data[i] = static_cast<std::uint8_t>(i % 3 ? 0x55 : i / 40);
    for (int mode = 0; mode < 4; ++mode) {
        const auto payload = test::compressLzss(data, mode);
        EXPECT_LT(payload.size(), data.size()) << mode;
        EXPECT_EQ(expand(payload, mode), data) << mode;

        // Fed a byte at a time, as the file reader may split it, gives the same bytes.
        auto out = area();
        LzssDecoder decoder{mode, out.data(), lzssOutputSize};
        std::vector<std::uint8_t> pending;
        for (std::size_t i = 0; i < payload.size(); ++i) {
            pending.push_back(payload[i]);
            const std::size_t used = feedLzss(decoder, pending, i + 1 == payload.size());
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
        }
        ASSERT_EQ(decoder.error, nullptr);
        out.resize(decoder.written);
        EXPECT_EQ(out, data) << mode;
    }
}

// Containers through loadPicture: both forms, every mode, "M" and "L".
struct ContainerCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    test::TimSpec spec;
};

TEST(Container, EveryFormAndModeLoadsThePicture) {
    std::vector<ContainerCase> cases;
    for (int depth : {8, 4}) {
        const auto spec = test::patternTim(depth, 12, 9, static_cast<unsigned>(depth));
        const auto tim = test::timFile(spec);
        cases.push_back({"TIM mode 0", test::timFormContainer(tim, 0, 0), spec});
        cases.push_back({"TIM mode 1 = 3", test::timFormContainer(tim, 1, 3), spec});
        cases.push_back({"TIM mode 2", test::timFormContainer(tim, 2, 2), spec});
        cases.push_back({"TIM mode 3", test::timFormContainer(tim, 3, 3), spec});
        for (std::uint8_t mode = 0; mode < 4; ++mode) {
            cases.push_back({"bu2 M", test::bu2FormContainer(tim, mode, 'M'), spec});
            cases.push_back({"bu2 L", test::bu2FormContainer(tim, mode, 'L'), spec});
        }
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFile file("c.lzb", c.bytes);
        Picture picture;
        picture.archiveOffset = 5;
        std::string why;
        ASSERT_EQ(test::loadBytes(picture, file, FileType::container, &why), 1) << why;
        EXPECT_EQ(picture.archiveOffset, 0);
        test::expectPictureMatches(picture, test::expectedPicture(c.spec), file.path + ".gif");
    }
}

TEST(Container, HeadersAreReadExactly) {
    const auto tim = test::timFile(test::patternTim(8, 2, 2));
    Picture picture;
    ContainerInfo info;
    std::string why;

    // 54 49 4D 01 ... 10 selects mode 3; the "LZSS-bu2" form's 1 stays mode 1.
    EXPECT_EQ(loadContainer(picture, test::timFormContainer(tim, 1, 3), &info, &why), 1) << why;
    EXPECT_EQ(info.form, ContainerForm::tim);
    EXPECT_EQ(info.mode, 3);
    EXPECT_FALSE(picture.dib.empty());
    releasePicture(picture);
    EXPECT_EQ(loadContainer(picture, test::bu2FormContainer(tim, 1), &info, &why), 1) << why;
    EXPECT_EQ(info.form, ContainerForm::lzssBu2);
    EXPECT_EQ(info.mode, 1);

    const auto refused = [&](std::vector<std::uint8_t> bytes, const std::string& reason) {
        Picture p;
        std::string w;
        EXPECT_EQ(loadContainer(p, bytes, nullptr, &w), 0) << reason;
        EXPECT_EQ(w, reason);
        EXPECT_TRUE(p.dib.empty());
    };
    auto bad = test::bu2FormContainer(tim, 2, 'N');
    refused(bad, "\"LZSS-bu2\" container header has neither \"M\" nor \"L\" at byte 10");
    bad = test::bu2FormContainer(tim, 2);
    bad[16] = 0x11;
    refused(bad, "\"LZSS-bu2\" container header does not end in 0x10");
    bad = test::timFormContainer(tim, 2, 2);
    bad[8] = 0;
    refused(bad, "\"TIM\" container header does not end in 0x10");
    refused(test::bytesOf("LZSS-bu3........."), "not a compressed container (unknown header)");
    refused(test::bytesOf("TIM\x02"), "container header is cut short");
    refused(test::bytesOf("LZSS-bu2M"), "container header is cut short");
}

TEST(Container, RecognisedButNoPictureFailsTheLoadWithAReason) {
    const auto tim = test::timFile(test::patternTim(8, 2, 2));
    const auto fails = [](std::vector<std::uint8_t> bytes, const std::string& reason) {
        Picture picture;
        std::string why;
        EXPECT_EQ(loadContainer(picture, bytes, nullptr, &why), 1) << reason;
        EXPECT_EQ(why, reason);
        EXPECT_TRUE(picture.dib.empty());
        test::TempFile file("bad.lzb", bytes);
        why.clear();
        EXPECT_EQ(test::loadBytes(picture, file, FileType::container, &why), 0);
        EXPECT_EQ(why, reason);
    };
    fails(test::timFormContainer(tim, 4, 0), "compression mode 4 is not supported");
    fails(test::bu2FormContainer(tim, 9), "compression mode 9 is not supported");
    fails(test::bytesOf(std::string("TIM\0xxxx\x10", 9)), "compressed data is too short to hold a TIM picture");

    auto flags = tim;
    flags[4] = 2;  // decoded byte 3
    fails(test::timFormContainer(flags, 0, 0), "compressed data is not an 8-bit or 4-bit TIM picture");
    auto cut = test::timFormContainer(tim, 0, 0);
    cut.resize(cut.size() - 3);
    fails(cut, "pixel data runs past the end of the data");
    auto early = test::bytesOf("TIM\x02xxxx\x10");
    early.insert(early.end(), {0x80, 0x00, 0x02});
    fails(early, "back-reference before the start of the output");

    // Decoded bytes 0-2 and 4-6 may hold anything; only byte 3 chooses.
    auto odd = tim;
    odd[1] = 0xEE;
    odd[6] = 0x77;
    Picture picture;
    std::string why;
    EXPECT_EQ(loadContainer(picture, test::timFormContainer(odd, 2, 2), nullptr, &why), 1);
    EXPECT_FALSE(picture.dib.empty()) << why;
}

TEST(Container, FileReaderMatchesTheInMemoryReaderAcrossPieces) {
    // A payload longer than one read piece: zero-length copies that decode to
    // nothing, then the picture. From item byte 9 the groups of 17 bytes put
    // a reference across the first piece's end.
    const auto spec = test::patternTim(8, 4, 4);
    const auto tim = test::timFile(spec);
    std::vector<test::LzssToken> tokens(700000, reference(0, 0));
    const auto body = test::compressTokens(std::span(tim).subspan(1), 0);
    tokens.insert(tokens.end(), body.begin(), body.end());
    auto bytes = test::bytesOf(std::string("TIM\0xxxx\x10", 9));
    const auto payload = test::packLzss(tokens);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    ASSERT_EQ((std::size_t{1} << 20) % 17, 9u + 7);

    Picture memory;
    std::string why;
    EXPECT_EQ(loadContainer(memory, bytes, nullptr, &why), 1);
    test::expectDibMatches(memory, test::expectedPicture(spec));
    test::TempFile file("long.lzb", bytes);
    Picture streamed;
    ASSERT_EQ(test::loadBytes(streamed, file, FileType::container, &why), 1) << why;
    EXPECT_EQ(memory.dib, streamed.dib);
}

}  // namespace
}  // namespace quolb
