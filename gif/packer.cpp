#include "gif/packer.h"

#include <algorithm>
#include <cstring>

namespace quolb {

std::uint8_t* sinkReserve(GifSink& sink, std::size_t count) {
    if (sink.file && sink.used + count > sink.capacity) sinkFlush(sink);
    if (sink.used + count > sink.capacity) {
        const std::size_t capacity = std::max(sink.used + count, 2 * sink.capacity);
        auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        if (sink.used) std::memcpy(grown.get(), sink.buffer.get(), sink.used);
        sink.buffer = std::move(grown);
        sink.capacity = capacity;
    }
    return sink.buffer.get() + sink.used;
}

void sinkWrite(GifSink& sink, const std::uint8_t* data, std::size_t count) {
    if (count == 0) return;
    std::memcpy(sinkReserve(sink, count), data, count);
    sinkCommit(sink, count);
}

bool sinkFlush(GifSink& sink) {
    if (!sink.file) return true;
    if (sink.used && !sink.failed && std::fwrite(sink.buffer.get(), 1, sink.used, sink.file) != sink.used)
        sink.failed = true;
    sink.used = 0;
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

// Codes are packed in chunks of at most this many, straight into the sink's
// buffer, so one chunk's bytes (with a clear code before every code at
// worst, the length bytes and the 8-byte stores' overrun) have a bounded size.
constexpr std::size_t chunkCodesMax = 1u << 16;
constexpr std::size_t chunkBytesMax(std::size_t codes) { return 3 * codes + 256 + 16; }

struct BitPacker {
    std::uint64_t accumulator;
    unsigned bitCount;  // 0 to 7 between puts
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

// The sub-block being filled in the sink's buffer: its length byte, then its
// data. A put adds at most 7 bytes, so once the data reaches 255 bytes the
// few past them move up by one to make room for the next length byte.
struct BlockCutter {
    std::uint8_t* lengthByte;

    std::uint8_t* data() const { return lengthByte + 1; }
    void cutWhenFull(BitPacker& packer) {
        if (packer.out - data() < 255) return;
        std::uint8_t* next = data() + 255;
        std::memmove(next + 1, next, static_cast<std::size_t>(packer.out - next));
        *lengthByte = 255;
        lengthByte = next;
        ++packer.out;
    }
};

}  // namespace

void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes) {
    const std::uint8_t* next = codes.data();
    std::size_t left = codes.size();
    while (left > 0) {
        // The held partial sub-block moves into the buffer and back out at
        // the end, so the record is left as putBits and putByte leave it.
        std::size_t chunk = std::min(left, chunkCodesMax);
        left -= chunk;
        std::uint8_t* const start = sinkReserve(sink, chunkBytesMax(chunk));
        BlockCutter cutter{start};
        const auto held = static_cast<std::size_t>(stream.blockLength);
        std::memcpy(cutter.data(), stream.block.data(), held);
        BitPacker packer{stream.accumulator, static_cast<unsigned>(stream.bitCount), cutter.data() + held};

        while (chunk > 0) {
            if (stream.codesSinceClear >= stream.clearLimit) {
                packer.put(static_cast<std::uint64_t>(stream.clearCode), 9);
                cutter.cutWhenFull(packer);
                stream.codesSinceClear = 0;
            }
            const std::int64_t due = std::int64_t{stream.clearLimit} - stream.codesSinceClear;
            const std::size_t run = std::min(chunk, static_cast<std::size_t>(std::max<std::int64_t>(due, 1)));
            std::size_t i = 0;
            for (; i + 6 <= run; i += 6) {
                packer.put(sixCodes(next + i), 54);
                cutter.cutWhenFull(packer);
            }
            for (; i < run; ++i) {
                packer.put(next[i], 9);
                cutter.cutWhenFull(packer);
            }
            next += run;
            chunk -= run;
            stream.codesSinceClear += static_cast<std::int32_t>(run);
        }

        const auto partial = static_cast<std::size_t>(packer.out - cutter.data());
        std::memcpy(stream.block.data(), cutter.data(), partial);
        stream.blockLength = static_cast<std::int32_t>(partial);
        stream.accumulator = static_cast<std::uint32_t>(packer.accumulator);
        stream.bitCount = static_cast<std::int32_t>(packer.bitCount);
        sinkCommit(sink, static_cast<std::size_t>(cutter.lengthByte - start));
    }
}

}  // namespace quolb
