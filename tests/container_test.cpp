#include <gtest/gtest.h>

#include "tests/support/lzss_writer.h"
#include "tests/support/picture_checks.h"

namespace quolb {
namespace {

// Payloads are checked as the converter reads them: in a container file whose
// decoded bytes are a 4-bit TIM picture of one row. The first 63 decoded
// bytes lead up to that row's pixels, so positions below count from the
// decoded stream's first byte, as the decoder counts them.
constexpr std::size_t rowAt = 63;

std::string timHead(std::size_t rowBytes) {
    const auto file = test::timFile(test::patternTim(4, static_cast<std::uint16_t>(rowBytes / 2), 1));
    return std::string(file.begin() + 1, file.begin() + 1 + rowAt);
}

std::vector<test::LzssToken> literals(const std::string& text) {
    std::vector<test::LzssToken> tokens;
    for (const char c : text) tokens.push_back({false, static_cast<std::uint8_t>(c), 0});
    return tokens;
}

// Loads a "LZSS-bu2" container in `mode` holding `payload`: the `rowBytes`
// bytes of the row as decoded, or "error: " and the reason.
std::string decodedRow(const std::vector<std::uint8_t>& payload, int mode, std::size_t rowBytes) {
    const auto header = test::bytesOf(std::string("LZSS-bu2\0\0M", 11) + static_cast<char>(mode) + std::string(4, 'x') + "\x10");
    const test::Loaded loaded = test::loadBytes(test::concat({header, payload}), FileType::container);
    if (!loaded.why.empty()) return "error: " + loaded.why;
    const auto row = pixelRows(loaded.picture).first(rowBytes);  // the DIB keeps the left pixel in the high nibble
    std::string out;
    for (const std::uint8_t byte : row) out += static_cast<char>(byte << 4 | byte >> 4);
    return out;
}

TEST(Lzss, BackReferencesAtTheWindowEdgesAndPastThem) {
    std::string r(5000, '\0');
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<char>(i * 7 + i / 256);
    // After `written` decoded bytes, the reference: the bytes at [from, from + length) follow, or it fails with `why`.
    struct Case { std::size_t written; std::uint8_t b1, b2; int mode; std::size_t from, length; const char* why; };
    const Case cases[] = {
        {1000, 255, 1, 0, 999, 1, nullptr},
        {256, 0, 1, 0, 0, 1, nullptr},  // from N - 1 written on, the window slides
        {5000, 0xFF, 0xF1, 3, 4999, 1, nullptr},
        {5000, 0, 0, 2, 5000 - 4096, 2, nullptr},
        {255, 0, 1, 0, 0, 0, "back-reference before the start of the output"},
        {rowAt, 0, 3, 0, 0, 0, "back-reference before the start of the output"},
        {rowAt, rowAt + 1, 3, 0, 0, 0, "back-reference past the bytes decoded so far"},
    };
    for (const auto& c : cases) {
        const std::size_t total = c.written + c.length + (c.written + c.length - rowAt) % 2;  // whole 16-bit units
        std::string decoded = timHead(total - rowAt) + r.substr(rowAt, c.written - rowAt);
        auto tokens = literals(decoded);
        tokens.push_back({true, c.b1, c.b2});
        decoded += decoded.substr(c.from, c.length) + std::string(total - c.written - c.length, 'p');
        for (const auto& pad : literals(decoded.substr(c.written + c.length))) tokens.push_back(pad);
        EXPECT_EQ(decodedRow(test::packLzss(tokens), c.mode, total - rowAt),
                  c.why ? std::string("error: ") + c.why : decoded.substr(rowAt))
            << c.written << " then " << int{c.b1} << "," << int{c.b2} << " in mode " << c.mode;
    }
}

TEST(Lzss, WorkedExamplesAndPayloadsCutShortOrTooLong) {
    // Mode 1 after x, y, z: offset 66 is position 65, length 5 repeats the z; the copy overlaps byte by byte.
    auto tokens = literals(timHead(8) + "xyz");
    tokens.push_back({true, 66, 3});
    EXPECT_EQ(decodedRow(test::packLzss(tokens), 1, 8), "xyzzzzzz");
    // The payload ends on a reference: with its second byte it repeats "ab", without it it is dropped.
    for (const std::size_t rowBytes : {std::size_t{4}, std::size_t{2}}) {
        tokens = literals(timHead(rowBytes) + "ab");
        tokens.push_back({true, rowAt + 1, 2});
        auto payload = test::packLzss(tokens);
        payload.resize(payload.size() - (rowBytes == 2 ? 1 : 0));
        EXPECT_EQ(decodedRow(payload, 0, rowBytes), std::string("abab").substr(0, rowBytes));
    }
    // 300,000 decoded bytes fill the output area; one more overflows it.
    const std::string fits = timHead(2) + "ab" + std::string(300000 - rowAt - 2, '\0');
    EXPECT_EQ(decodedRow(test::compressLzss(test::bytesOf(fits), 1), 1, 2), "ab");
    EXPECT_EQ(decodedRow(test::compressLzss(test::bytesOf(fits + '\0'), 1), 1, 2),
              "error: compressed data decodes to more than 300000 bytes");
}

TEST(Container, RoundTripsInEveryModeThroughBothForms) {
    // The 8-bit picture is long enough for the 4096-byte window to slide.
    for (const auto& tim : {test::patternTim(8, 48, 48, 8), test::patternTim(4, 12, 9, 4)}) {
        const auto file = test::timFile(tim);
        for (std::uint8_t mode = 0; mode < 4; ++mode) {
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
        {test::bytesOf(std::string("TIM\0xxxx\x10\0\0\0\0\x04", 14)), "TIM pictures of kind 4 (flags 0x00000004) are not supported"},
        {test::timFormContainer(std::span(tim).first(tim.size() - 1), 0), "pixel data runs past the end of the data"},
        {test::timFormContainer(tim, 4), "compression mode 4 is not supported"},
        {test::bytesOf(std::string("TIM\x02xxxx\x10\x80\x00\x02", 12)), "back-reference before the start of the output"},
    };
    for (const auto& [bytes, reason] : cases) EXPECT_EQ(test::loadBytes(bytes, FileType::container).why, reason);
}

TEST(Container, DecodesAcrossTheReadersPieces) {
    // 700,000 zero-length copies, then the picture. The payload is read in
    // 1 MiB pieces, and its groups of 17 bytes (a flag byte, eight references)
    // leave a reference's second byte for the second piece: 2^20 = 61680 x 17 + 16.
    const auto tim = test::patternTim(8, 4, 4);
    const auto file = test::timFile(tim);
    const std::vector<test::LzssToken> nothing(700000, {true, 0, 0});
    const auto bytes = test::concat({test::bytesOf(std::string("TIM\0xxxx\x10", 9)), test::packLzss(nothing),
                                     test::compressLzss(std::span(file).subspan(1), 0)});
    test::expectLoadsAs(bytes, FileType::container, tim);
}

}  // namespace
}  // namespace quolb
