// The GIF code-stream packer: codes go out least significant bit first,
// gathered into data sub-blocks of at most 255 bytes, each behind its length
// byte, with a clear code in front of a code once clearLimit codes have been
// sent since the last one. No string table: the writer sends only literals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace quolb {

// The sink's memory, freed as it was allocated.
struct SinkMemoryFree {
    std::size_t alignment = 0;
    void operator()(std::uint8_t* memory) const;
};
using SinkBuffer = std::unique_ptr<std::uint8_t[], SinkMemoryFree>;

// `capacity` bytes, not cleared. A buffer of 2 MiB or more is aligned so
// the system may back it with huge pages: writing out a fresh buffer
// otherwise costs a page fault for every 4 KiB.
SinkBuffer allocateSinkBuffer(std::size_t capacity);

// A thread that writes one half of a sink's buffer to its file while the
// other half fills (see writeBehind).
struct SinkWriter;
struct SinkWriterStop {
    void operator()(SinkWriter* writer) const;  // waits for the write in hand
};

// Where the packed bytes go: gathered in one buffer and handed to `file` in
// large writes. Without a file every byte stays in the buffer.
// A short write sets `failed`, with the system's error number in `error`;
// later bytes are then dropped.
struct GifSink {
    std::FILE* file = nullptr;
    SinkBuffer buffer;
    std::size_t used = 0;      // where the next byte goes
    std::size_t capacity = 0;  // where the room for bytes ends
    bool failed = false;
    int error = 0;
    std::unique_ptr<SinkWriter, SinkWriterStop> writer;  // last: done with the buffer before it goes
};

// Room for `count` more bytes at the end of the buffer, after writing out or
// growing it as needed; sinkCommit then adds what was placed there.
std::uint8_t* sinkReserve(GifSink& sink, std::size_t count);
inline void sinkCommit(GifSink& sink, std::size_t count) { sink.used += count; }
void sinkWrite(GifSink& sink, const std::uint8_t* data, std::size_t count);
// Writes everything gathered to the file. Returns false when any write
// failed, with errno set to that write's error.
bool sinkFlush(GifSink& sink);
// From now on the file is written a half buffer at a time on a thread of its
// own, while the packer fills the other half: the system's copying of the
// bytes no longer waits for the packing, nor the packing for it. Worth it
// only for output larger than the buffer; where no second thread can be had
// the sink goes on writing in its own thread.
void writeBehind(GifSink& sink);

struct LiteralPacker;

struct GifCodeStream {
    static constexpr std::size_t pieceCodes = 8192;  // codes packed together: the pending ones fit the first-level cache

    std::uint32_t accumulator = 0;           // pending bits, oldest in bit 0
    std::int32_t bitCount = 0;               // 0 to 7 between operations
    std::array<std::uint8_t, 256> block{};   // the sub-block being filled
    std::int32_t blockLength = 0;            // 0 to 254 between operations
    std::int32_t codesSinceClear = 0;
    std::int32_t clearCode = 0;
    std::int32_t clearLimit = 0;
    // Codes putLiteralCodes took but has not packed yet, a clear code as a 0
    // byte with its place in `clears`: they are packed a piece at a time,
    // so calls of a few hundred codes (a small picture's rows) cost what one
    // long call does, and the stream stays on a byte boundary between calls
    // (bitCount is 0 from reset until finish, which sends them). A long call
    // sends them first and spreads its own codes where they lie.
    std::array<std::uint8_t, pieceCodes + 16> pending;  // the copies' whole words may run 15 bytes past
    std::array<std::uint16_t, pieceCodes> clears;
    std::size_t pendingCount = 0;
    std::size_t clearCount = 0;
    const LiteralPacker* packer = nullptr;  // the way the pending codes are to be packed
};

// Starts a new image: no pending bits, no bytes held, no codes counted.
// clearCode and clearLimit are left as they are.
void reset(GifCodeStream& stream);
// Adds one byte to the sub-block; a sub-block of 255 bytes is written at once.
void putByte(GifCodeStream& stream, GifSink& sink, std::uint8_t byte);
// Writes the held bytes as one sub-block behind their length; nothing when empty.
void flushBlock(GifCodeStream& stream, GifSink& sink);
// Appends the `width` low bits of `value` (which must be below 2^width, width <= 24).
void putBits(GifCodeStream& stream, GifSink& sink, std::uint32_t value, int width);
// Sends the pending codes, the end code, the last partial byte and the last
// partial sub-block.
void finish(GifCodeStream& stream, GifSink& sink, int endCode, int width);

// One way of spreading eight 8-bit codes into nine bytes of 9-bit codes.
// Those using instructions the build's target does not promise say at run
// time whether this machine has them; every way gives the same bytes.
struct LiteralPacker {
    const char* name;
    bool (*usable)();  // null: never on this build
    void (*expand)(const std::uint8_t* in, std::size_t groups, std::uint8_t* out);
};

// Every way built in, the portable one first.
std::span<const LiteralPacker> literalPackers();
// The fastest way this machine runs, chosen once.
const LiteralPacker& bestLiteralPacker();

// Sends every byte of `codes` as a 9-bit code, each preceded by the clear
// code when clearLimit codes have been sent since the last one. They may
// wait for the next call or finish.
void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes);
void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes,
                     const LiteralPacker& packer);

}  // namespace quolb
