#include "packer.h"

#include <algorithm>
#include <cstring>

namespace quolb {

void sinkWrite(GifSink& sink, const std::uint8_t* data, std::size_t count) {
    if (sink.failed) return;
    sink.bytes.insert(sink.bytes.end(), data, data + count);
    if (sink.file && sink.bytes.size() >= sink.flushAt) sinkFlush(sink);
}

bool sinkFlush(GifSink& sink) {
    if (!sink.file || sink.failed) return !sink.failed;
    if (!sink.bytes.empty() &&
        std::fwrite(sink.bytes.data(), 1, sink.bytes.size(), sink.file) != sink.bytes.size())
        sink.failed = true;
    sink.bytes.clear();
    return !sink.failed;
}

void reset(GifCodeStream& stream) {
    stream.accumulator = 0;
    stream.bitCount = 0;
    stream.blockLength = 0;
    stream.codesSinceClear = 0;
}

void putByte(GifCodeStream& stream, GifSink& sink, std::uint8_t byte) {
    stream.block[static_cast<std::size_t>(stream.blockLength)] = byte;
    if (++stream.blockLength >= 255) flushBlock(stream, sink);
}

void flushBlock(GifCodeStream& stream, GifSink& sink) {
    if (stream.blockLength <= 0) return;
    const auto length = static_cast<std::uint8_t>(stream.blockLength);
    sinkWrite(sink, &length, 1);
    sinkWrite(sink, stream.block.data(), length);
    stream.blockLength = 0;
}

void putBits(GifCodeStream& stream, GifSink& sink, std::uint32_t value, int width) {
    stream.accumulator |= value << stream.bitCount;
    stream.bitCount += width;
    while (stream.bitCount >= 8) {
        putByte(stream, sink, static_cast<std::uint8_t>(stream.accumulator & 0xFF));
        stream.accumulator >>= 8;
        stream.bitCount -= 8;
    }
}

void putCode(GifCodeStream& stream, GifSink& sink, int code, int width) {
    if (stream.codesSinceClear >= stream.clearLimit) {
        putBits(stream, sink, static_cast<std::uint32_t>(stream.clearCode), width);
        stream.codesSinceClear = 0;
    }
    putBits(stream, sink, static_cast<std::uint32_t>(code), width);
    ++stream.codesSinceClear;
}

void finish(GifCodeStream& stream, GifSink& sink, int endCode, int width) {
    putBits(stream, sink, static_cast<std::uint32_t>(endCode), width);
    if (stream.bitCount > 0) {
        putByte(stream, sink, static_cast<std::uint8_t>(stream.accumulator & 0xFF));
        stream.accumulator = 0;
        stream.bitCount = 0;
    }
    flushBlock(stream, sink);
}

namespace {

// Raw stream bytes are packed into a staging area and cut into sub-blocks
// from there; the slack takes the 8-byte stores that run past the last byte.
constexpr std::size_t stageSize = 8192;
constexpr std::size_t stageSlack = 16;
// Codes are packed in runs of at most this many, whatever the clear limit,
// so that one run and its clear code always fit the staging area.
constexpr std::size_t runCodesMax = 1536;
constexpr std::size_t runBytesMax = ((runCodesMax + 1) * 9 + 7) / 8 + 1;

// Moves raw stream bytes into sub-blocks: whole 255-byte blocks go to the
// sink straight from `data`, the rest through stream.block.
void putBytes(GifCodeStream& stream, GifSink& sink, const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        if (stream.blockLength == 0 && count >= 255) {
            std::uint8_t framed[256];
            framed[0] = 255;
            std::memcpy(framed + 1, data, 255);
            sinkWrite(sink, framed, sizeof framed);
            data += 255;
            count -= 255;
            continue;
        }
        const std::size_t room = 255 - static_cast<std::size_t>(stream.blockLength);
        const std::size_t take = std::min(count, room);
        std::memcpy(stream.block.data() + stream.blockLength, data, take);
        stream.blockLength += static_cast<std::int32_t>(take);
        data += take;
        count -= take;
        if (stream.blockLength == 255) flushBlock(stream, sink);
    }
}

struct BitPacker {
    std::uint64_t accumulator;
    unsigned bitCount;  // 0 to 7 between groups
    std::uint8_t* out;

    // Adds up to 56 bits: with at most 7 pending they fit the 64-bit
    // accumulator, which is stored whole and advanced by the bytes completed.
    void put(std::uint64_t bits, unsigned width) {
        accumulator |= bits << bitCount;
        bitCount += width;
        std::memcpy(out, &accumulator, 8);
        const unsigned whole = bitCount & ~7u;
        out += whole / 8;
        accumulator >>= whole;  // at most 7 + 54 bits were held: whole <= 56
        bitCount &= 7u;
    }
};

inline std::uint64_t sixCodes(const std::uint8_t* c) {
    return std::uint64_t{c[0]} | std::uint64_t{c[1]} << 9 | std::uint64_t{c[2]} << 18 |
           std::uint64_t{c[3]} << 27 | std::uint64_t{c[4]} << 36 | std::uint64_t{c[5]} << 45;
}

}  // namespace

void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes) {
    std::uint8_t stage[stageSize + stageSlack];
    BitPacker packer{stream.accumulator, static_cast<unsigned>(stream.bitCount), stage};
    const std::uint8_t* next = codes.data();
    std::size_t left = codes.size();
    while (left > 0) {
        if (stream.codesSinceClear >= stream.clearLimit) {
            packer.put(static_cast<std::uint64_t>(stream.clearCode), 9);
            stream.codesSinceClear = 0;
        }
        const std::int64_t due = std::int64_t{stream.clearLimit} - stream.codesSinceClear;
        const std::size_t run = std::min({left, runCodesMax, static_cast<std::size_t>(std::max<std::int64_t>(due, 1))});
        std::size_t i = 0;
        for (; i + 6 <= run; i += 6) packer.put(sixCodes(next + i), 54);
        for (; i < run; ++i) packer.put(next[i], 9);
        next += run;
        left -= run;
        stream.codesSinceClear += static_cast<std::int32_t>(run);
        const auto used = static_cast<std::size_t>(packer.out - stage);
        if (used + runBytesMax > stageSize || left == 0) {
            putBytes(stream, sink, stage, used);
            packer.out = stage;
        }
    }
    stream.accumulator = static_cast<std::uint32_t>(packer.accumulator);
    stream.bitCount = static_cast<std::int32_t>(packer.bitCount);
}

}  // namespace quolb
