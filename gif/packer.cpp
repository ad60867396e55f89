#include "gif/packer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

#if (defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))) || defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quolb {

namespace {
constexpr std::size_t hugePage = std::size_t{2} << 20;
void sendPending(GifCodeStream& stream, GifSink& sink);
}  // namespace

void SinkMemoryFree::operator()(std::uint8_t* memory) const {
    if (alignment) ::operator delete[](memory, std::align_val_t{alignment});
    else delete[] memory;
}

SinkBuffer allocateSinkBuffer(std::size_t capacity) {
    if (capacity < hugePage) return SinkBuffer(new std::uint8_t[capacity], SinkMemoryFree{});
    auto* memory = static_cast<std::uint8_t*>(::operator new[](capacity, std::align_val_t{hugePage}));
#ifdef __linux__
    // Where huge pages are only given on request; a refusal costs nothing.
    ::madvise(memory, capacity / hugePage * hugePage, MADV_HUGEPAGE);
#endif
    return SinkBuffer(memory, SinkMemoryFree{hugePage});
}

std::uint8_t* sinkReserve(GifSink& sink, std::size_t count) {
    if (sink.file && sink.used + count > sink.capacity) sinkFlush(sink);
    if (sink.used + count > sink.capacity) {
        const std::size_t capacity = std::max(sink.used + count, 2 * sink.capacity);
        SinkBuffer grown = allocateSinkBuffer(capacity);
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
    stream.pendingCount = 0;
    stream.clearCount = 0;
    stream.packer = nullptr;
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
    sendPending(stream, sink);
    putBits(stream, sink, static_cast<std::uint32_t>(endCode), width);
    if (stream.bitCount > 0) {
        putByte(stream, sink, static_cast<std::uint8_t>(stream.accumulator & 0xFF));
        stream.accumulator = 0;
        stream.bitCount = 0;
    }
    flushBlock(stream, sink);
}

namespace {

constexpr std::size_t pieceCodes = GifCodeStream::pieceCodes;
static_assert(pieceCodes % 8 == 0, "a full piece is whole groups");

// A run is short (at most clearLimit codes): whole 16-byte copies, which
// may write up to 15 bytes past the run (the buffer has room for them), beat
// the library's start-up for each; they may not read past the input.
void copyCodes(std::uint8_t* to, const std::uint8_t* from, std::size_t count, const std::uint8_t* end) {
#if defined(__SSE2__)
    if (static_cast<std::size_t>(end - from) >= (count + 15) / 16 * 16) {
        for (std::size_t i = 0; i < count; i += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
        return;
    }
#else
    (void)end;
#endif
    std::memcpy(to, from, count);
}

std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

void store64(std::uint8_t* p, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void expandPortable(const std::uint8_t* in, std::size_t groups, std::uint8_t* out) {
    for (std::size_t g = 0; g < groups; ++g, in += 8, out += 9) {
        const std::uint64_t x = load64(in);
        std::uint64_t low = 0;
        for (unsigned k = 0; k < 7; ++k) low |= (x >> (8 * k) & 0xFF) << (9 * k);
        store64(out, low | x >> 56 << 63);
        out[8] = static_cast<std::uint8_t>(x >> 57);
    }
}

bool always() { return true; }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Bits 9k to 9k + 7 for k = 0 to 6: where the first seven codes go.
constexpr std::uint64_t sevenCodes = [] {
    std::uint64_t mask = 0;
    for (unsigned k = 0; k < 7; ++k) mask |= std::uint64_t{0xFF} << (9 * k);
    return mask;
}();

__attribute__((target("bmi2"))) void expandBmi2(const std::uint8_t* in, std::size_t groups, std::uint8_t* out) {
    for (std::size_t g = 0; g < groups; ++g, in += 8, out += 9) {
        std::uint64_t x;
        std::memcpy(&x, in, 8);
        const std::uint64_t low = _pdep_u64(x, sevenCodes) | x >> 56 << 63;
        std::memcpy(out, &low, 8);
        out[8] = static_cast<std::uint8_t>(x >> 57);
    }
}

bool hasBmi2() { return __builtin_cpu_supports("bmi2"); }

// The deposit reads and writes whole words in the machine's byte order.
constexpr bool littleEndian = std::endian::native == std::endian::little;
#endif

const LiteralPacker packers[] = {
    {"portable", always, expandPortable},
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    {"bmi2", littleEndian ? hasBmi2 : nullptr, expandBmi2},
#endif
};

// Spreads `groups` groups of gathered codes straight into framed sub-blocks
// in the sink, behind the held partial sub-block; a group that a sub-block's
// end cuts in two is spread aside and copied in two parts. Each code in
// `clears` (indices into the groups' codes) gets its ninth bit set. The new
// partial sub-block is held again.
void putGroups(GifCodeStream& stream, GifSink& sink, const std::uint8_t* codes, std::size_t groups,
               const std::uint16_t* clears, std::size_t clearCount, const LiteralPacker& packer) {
    const auto held = static_cast<std::size_t>(stream.blockLength);
    const std::size_t total = held + 9 * groups;
    std::uint8_t* const first = sinkReserve(sink, total + total / 255 + 1);
    std::memcpy(first + 1, stream.block.data(), held);
    std::uint8_t* block = first;  // the length byte of the sub-block being filled
    std::size_t filled = held;    // its bytes so far
    for (std::size_t g = 0; g < groups;) {
        const std::size_t whole = std::min((255 - filled) / 9, groups - g);
        packer.expand(codes + 8 * g, whole, block + 1 + filled);
        filled += 9 * whole;
        g += whole;
        if (g == groups && filled < 255) break;
        if (filled < 255) {
            std::array<std::uint8_t, 9> cut;
            packer.expand(codes + 8 * g, 1, cut.data());
            const std::size_t before = 255 - filled;
            std::memcpy(block + 1 + filled, cut.data(), before);
            std::memcpy(block + 257, cut.data() + before, 9 - before);
            filled = 9 - before + 255;
            ++g;
        }
        *block = 255;
        block += 256;
        filled -= 255;
    }
    for (std::size_t c = 0; c < clearCount; ++c) {
        const std::size_t byte = held + (9 * std::size_t{clears[c]} + 8) / 8;
        std::uint8_t& at = first[byte / 255 * 256 + 1 + byte % 255];
        at = static_cast<std::uint8_t>(at | 1u << ((9 * std::size_t{clears[c]} + 8) % 8));
    }
    std::memcpy(stream.block.data(), block + 1, filled);
    stream.blockLength = static_cast<std::int32_t>(filled);
    sinkCommit(sink, static_cast<std::size_t>(block - first));
}

// Packs the first `groups` groups of the pending codes; gives how many of
// the clear codes they hold.
std::size_t packGroups(GifCodeStream& stream, GifSink& sink, std::size_t groups, const LiteralPacker& packer) {
    std::size_t c = 0;
    while (c < stream.clearCount && stream.clears[c] < 8 * groups) ++c;
    putGroups(stream, sink, stream.pending.data(), groups, stream.clears.data(), c, packer);
    return c;
}

// The pending codes' whole groups packed, the last few sent bit by bit.
void sendPending(GifCodeStream& stream, GifSink& sink) {
    const std::size_t groups = stream.pendingCount / 8;
    std::size_t c = packGroups(stream, sink, groups, stream.packer ? *stream.packer : bestLiteralPacker());
    for (std::size_t i = 8 * groups; i < stream.pendingCount; ++i) {
        const bool clear = c < stream.clearCount && stream.clears[c] == i;
        if (clear) ++c;
        putBits(stream, sink, clear ? static_cast<std::uint32_t>(stream.clearCode) : stream.pending[i], 9);
    }
    stream.pendingCount = 0;
    stream.clearCount = 0;
}

}  // namespace

std::span<const LiteralPacker> literalPackers() { return packers; }

const LiteralPacker& bestLiteralPacker() {
    static const LiteralPacker& best = [] () -> const LiteralPacker& {
        const LiteralPacker* chosen = &packers[0];
        for (const LiteralPacker& packer : packers)
            if (packer.usable && packer.usable()) chosen = &packer;
        return *chosen;
    }();
    return best;
}

void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes) {
    putLiteralCodes(stream, sink, codes, bestLiteralPacker());
}

// Two stages: the codes are gathered with a 0 byte where each clear code
// goes, then eight at a time spread into nine bytes straight into the framed
// sub-blocks, and the clear codes' ninth bits set there. Gathered codes wait
// until a piece is full, however many calls that takes, so the stream is on a
// byte boundary at every group.
void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes,
                     const LiteralPacker& packer) {
    const std::uint8_t* next = codes.data();
    const std::uint8_t* const end = next + codes.size();
    stream.packer = &packer;
    std::uint8_t* const gathered = stream.pending.data();
    std::size_t count = stream.pendingCount;
    const auto makeRoom = [&] {
        if (count < pieceCodes) return;
        packGroups(stream, sink, pieceCodes / 8, packer);
        count = 0;
        stream.clearCount = 0;
    };
    while (next != end) {
        makeRoom();
        if (stream.codesSinceClear >= stream.clearLimit) {
            stream.clears[stream.clearCount++] = static_cast<std::uint16_t>(count);
            gathered[count++] = 0;
            stream.codesSinceClear = 0;
            makeRoom();
        }
        // At least one code follows a clear code.
        const auto due = static_cast<std::size_t>(std::max(stream.clearLimit - stream.codesSinceClear, 1));
        const std::size_t run = std::min({due, pieceCodes - count, static_cast<std::size_t>(end - next)});
        copyCodes(gathered + count, next, run, end);
        count += run;
        next += run;
        stream.codesSinceClear += static_cast<std::int32_t>(run);
    }
    stream.pendingCount = count;
}

}  // namespace quolb
