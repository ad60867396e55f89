#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "packer.h"
#include "support/reference_packer.h"

namespace quolb {
namespace {

using Bytes = std::vector<std::uint8_t>;

GifCodeStream freshStream(int clearLimit = 253) {
    GifCodeStream stream;
    reset(stream);
    stream.clearCode = 256;
    stream.clearLimit = clearLimit;
    return stream;
}

Bytes randomCodes(std::mt19937& random, std::size_t count) {
    Bytes codes(count);
    for (auto& code : codes) code = static_cast<std::uint8_t>(random());
    return codes;
}

Bytes bytesOf(const GifSink& sink) {
    const auto bytes = sinkBytes(sink);
    return Bytes(bytes.begin(), bytes.end());
}

Bytes packOneByOne(const Bytes& codes, int clearLimit = 253) {
    GifCodeStream stream = freshStream(clearLimit);
    GifSink sink;
    for (const std::uint8_t code : codes) putCode(stream, sink, code, 9);
    finish(stream, sink, 257, 9);
    return bytesOf(sink);
}

TEST(PackerOperations, BitsGoOutLeastSignificantFirst) {
    GifCodeStream stream = freshStream();
    GifSink sink;
    putBits(stream, sink, 5, 9);
    putBits(stream, sink, 3, 9);
    EXPECT_EQ(stream.blockLength, 2);
    EXPECT_EQ(stream.block[0], 0x05);
    EXPECT_EQ(stream.block[1], 0x06);
    EXPECT_EQ(stream.bitCount, 2);
    EXPECT_EQ(stream.accumulator, 0u);
    EXPECT_EQ(sink.used, 0u);
}

TEST(PackerOperations, The255thByteWritesTheSubBlock) {
    GifCodeStream stream = freshStream();
    GifSink sink;
    for (int i = 0; i < 254; ++i) putByte(stream, sink, static_cast<std::uint8_t>(i));
    EXPECT_EQ(sink.used, 0u);
    putByte(stream, sink, 0xAB);
    ASSERT_EQ(sink.used, 256u);
    EXPECT_EQ(sink.buffer[0], 0xFF);
    EXPECT_EQ(sink.buffer[1], 0);
    EXPECT_EQ(sink.buffer[255], 0xAB);
    EXPECT_EQ(stream.blockLength, 0);
    flushBlock(stream, sink);  // nothing held: no empty sub-block
    EXPECT_EQ(sink.used, 256u);
}

TEST(PackerOperations, ClearCodeComesBeforeThe254thCode) {
    GifCodeStream stream = freshStream();
    GifSink sink;
    for (int i = 0; i < 253; ++i) putCode(stream, sink, 0, 9);
    EXPECT_EQ(stream.codesSinceClear, 253);
    // One sub-block out, 29 bytes and 6 bits held: 253 codes, no clear code yet.
    EXPECT_EQ(sink.used, 256u);
    EXPECT_EQ(8 * (255 + stream.blockLength) + stream.bitCount, 253 * 9);
    putCode(stream, sink, 0, 9);
    EXPECT_EQ(stream.codesSinceClear, 1);
    finish(stream, sink, 257, 9);
    EXPECT_EQ(bytesOf(sink), test::referenceCodeStream(Bytes(254, 0)));
}

TEST(PackerOperations, FinishAloneSendsTheEndCode) {
    GifCodeStream stream = freshStream();
    GifSink sink;
    finish(stream, sink, 257, 9);
    EXPECT_EQ(bytesOf(sink), (Bytes{0x02, 0x01, 0x01}));
    EXPECT_EQ(stream.bitCount, 0);
    EXPECT_EQ(stream.blockLength, 0);
}

TEST(PackerOperations, FinishThatCompletesASubBlockWritesNoEmptyOne) {
    // 224 codes + the end code = 225 x 9 bits = 2025 bits: 253 bytes and 1 bit,
    // so the pending bit becomes byte 254; one code more lands on 255 exactly.
    for (const std::size_t codes : {224u, 225u}) {
        const Bytes stream = packOneByOne(Bytes(codes, 0xFF));
        ASSERT_EQ(stream.size(), codes == 224 ? 255u : 256u) << codes;
        EXPECT_EQ(stream[0], codes == 224 ? 254 : 255) << codes;
    }
}

TEST(PackerOperations, MatchTheBitByBitPackerAcrossBoundaries) {
    // Every length through two clear codes and four sub-blocks: the 8-code
    // byte cycle, the 253-code clear cycle and the 255-byte block cycle.
    std::mt19937 random(1);
    for (std::size_t count = 0; count <= 900; ++count) {
        const Bytes codes = randomCodes(random, count);
        ASSERT_EQ(packOneByOne(codes), test::referenceCodeStream(codes)) << count << " codes";
    }
}

TEST(PackerOperations, OtherClearLimitsKeepTheSchedule) {
    std::mt19937 random(2);
    for (const int limit : {1, 2, 7, 100, 1000}) {
        const Bytes codes = randomCodes(random, 777);
        EXPECT_EQ(packOneByOne(codes, limit), test::referenceCodeStream(codes, limit)) << limit;
    }
}

// The fast path must leave the same bytes and the same record as putCode
// one code at a time, from any starting state and for any cut into rows.
TEST(PackerFastPath, MatchesPutCodeForRandomRowsAndStarts) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 400; ++trial) {
        const Bytes codes = randomCodes(random, 1 + random() % 2000);
        const std::size_t lead = random() % 300;  // codes sent one by one first
        GifCodeStream slow = freshStream(), fast = freshStream();
        GifSink slowSink, fastSink;
        for (std::size_t i = 0; i < lead; ++i) {
            putCode(slow, slowSink, 7, 9);
            putCode(fast, fastSink, 7, 9);
        }
        for (const std::uint8_t code : codes) putCode(slow, slowSink, code, 9);
        for (std::size_t at = 0; at < codes.size();) {
            const std::size_t row = std::min<std::size_t>(codes.size() - at, 1 + random() % 700);
            putLiteralCodes(fast, fastSink, std::span(codes).subspan(at, row));
            at += row;
        }
        ASSERT_EQ(fast.accumulator, slow.accumulator) << trial;
        ASSERT_EQ(fast.bitCount, slow.bitCount) << trial;
        ASSERT_EQ(fast.blockLength, slow.blockLength) << trial;
        ASSERT_EQ(fast.codesSinceClear, slow.codesSinceClear) << trial;
        ASSERT_TRUE(std::equal(fast.block.begin(), fast.block.begin() + fast.blockLength, slow.block.begin()));
        finish(slow, slowSink, 257, 9);
        finish(fast, fastSink, 257, 9);
        ASSERT_EQ(bytesOf(fastSink), bytesOf(slowSink)) << trial;
    }
}

TEST(PackerFastPath, KeepsUnusualClearLimits) {
    std::mt19937 random(4);
    for (const int limit : {0, 1, 5, 6, 7, 100000}) {
        const Bytes codes = randomCodes(random, 5000);
        GifCodeStream stream = freshStream(limit);
        GifSink sink;
        putLiteralCodes(stream, sink, codes);
        finish(stream, sink, 257, 9);
        EXPECT_EQ(bytesOf(sink), packOneByOne(codes, limit)) << limit;
    }
}

TEST(PackerSink, WritesThroughToTheFileAndReportsFailure) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    GifSink sink;
    sink.file = file;
    sink.buffer = std::make_unique<std::uint8_t[]>(100);
    sink.capacity = 100;
    const Bytes data(250, 0x5A);
    sinkWrite(sink, data.data(), data.size());  // more than the buffer: it grows
    sinkWrite(sink, data.data(), 10);           // no room left: the 250 go out
    EXPECT_EQ(sink.used, 10u);
    EXPECT_TRUE(sinkFlush(sink));
    EXPECT_EQ(std::ftell(file), 260);
    std::fclose(file);

#ifndef _WIN32
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    std::setvbuf(full, nullptr, _IONBF, 0);
    GifSink failing;
    failing.file = full;
    sinkWrite(failing, data.data(), data.size());
    EXPECT_FALSE(sinkFlush(failing));
    std::fclose(full);
#endif
}

}  // namespace
}  // namespace quolb
