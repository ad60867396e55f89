#include "gif/packer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

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

struct SinkWriter {
    std::FILE* file = nullptr;
    std::size_t half = 0;   // the size of each half of the sink's buffer
    std::size_t start = 0;  // where the half being filled begins
    std::mutex mutex;
    std::condition_variable changed;
    const std::uint8_t* data = nullptr;  // the bytes in hand; null when idle
    std::size_t count = 0;
    bool stopping = false;
    bool failed = false;
    int error = 0;
    std::thread thread;  // last: started once the rest is ready
};

void SinkWriterStop::operator()(SinkWriter* writer) const {
    {
        const std::lock_guard lock(writer->mutex);
        writer->stopping = true;  // the bytes in hand still go out first
    }
    writer->changed.notify_all();
    if (writer->thread.joinable()) writer->thread.join();
    delete writer;
}

namespace {

void writeHandedBytes(SinkWriter& writer) {
    std::unique_lock lock(writer.mutex);
    for (;;) {
        writer.changed.wait(lock, [&] { return writer.data || writer.stopping; });
        if (!writer.data) return;
        const std::uint8_t* const data = writer.data;
        const std::size_t count = writer.count;
        lock.unlock();
        const bool written = std::fwrite(data, 1, count, writer.file) == count;
        const int error = errno;
        lock.lock();
        if (!written && !writer.failed) {
            writer.failed = true;
            writer.error = error;
        }
        writer.data = nullptr;
        writer.changed.notify_all();
    }
}

// Waits until the writer has nothing in hand; its failure becomes the sink's.
void awaitWriter(GifSink& sink) {
    SinkWriter& writer = *sink.writer;
    std::unique_lock lock(writer.mutex);
    writer.changed.wait(lock, [&] { return !writer.data; });
    if (writer.failed && !sink.failed) {
        sink.failed = true;
        sink.error = writer.error;
    }
}

// Gives the writer the half just filled and goes on in the other one, once
// the writer is done with it.
void handOver(GifSink& sink) {
    SinkWriter& writer = *sink.writer;
    awaitWriter(sink);
    if (!sink.failed && sink.used > writer.start) {
        {
            const std::lock_guard lock(writer.mutex);
            writer.data = sink.buffer.get() + writer.start;
            writer.count = sink.used - writer.start;
        }
        writer.changed.notify_all();
    }
    writer.start = writer.start == 0 ? writer.half : 0;
    sink.used = writer.start;
    sink.capacity = writer.start + writer.half;
}

void failWrite(GifSink& sink) {
    sink.failed = true;
    sink.error = errno;
}

}  // namespace

void writeBehind(GifSink& sink) {
    if (!sink.file || sink.writer || sink.used > sink.capacity / 2 || std::thread::hardware_concurrency() == 1) return;
    std::unique_ptr<SinkWriter, SinkWriterStop> writer(new SinkWriter);
    writer->file = sink.file;
    writer->half = sink.capacity / 2;
    try {
        writer->thread = std::thread(writeHandedBytes, std::ref(*writer));
    } catch (const std::system_error&) {
        return;
    }
    sink.capacity = writer->half;
    sink.writer = std::move(writer);
}

std::uint8_t* sinkReserve(GifSink& sink, std::size_t count) {
    if (sink.used + count <= sink.capacity) return sink.buffer.get() + sink.used;
    if (sink.writer) {
        if (count <= sink.writer->half) {
            handOver(sink);
            return sink.buffer.get() + sink.used;
        }
        // More than a half at once: back to one buffer, written in this thread.
        sinkFlush(sink);
        sink.used = 0;
        sink.capacity = 2 * sink.writer->half;
        sink.writer.reset();
    }
    if (sink.file) sinkFlush(sink);
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
    // More than the buffer holds (a compressed image, already in memory)
    // goes to the file as it is, not copied into a buffer grown for it.
    if (sink.file && count > (sink.writer ? sink.writer->half : sink.capacity)) {
        if (sinkFlush(sink) && std::fwrite(data, 1, count, sink.file) != count) failWrite(sink);
        return;
    }
    std::memcpy(sinkReserve(sink, count), data, count);
    sinkCommit(sink, count);
}

bool sinkFlush(GifSink& sink) {
    if (!sink.file) return true;
    std::size_t from = 0;
    if (sink.writer) {
        awaitWriter(sink);
        from = sink.writer->start;
    }
    const std::size_t count = sink.used - from;
    if (count && !sink.failed && std::fwrite(sink.buffer.get() + from, 1, count, sink.file) != count) failWrite(sink);
    sink.used = from;
    if (sink.failed) errno = sink.error;
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

// Code k of a group shifted left by k in a 16-bit lane is its part of output
// byte k in the low byte and its part of byte k + 1 in the high byte: the
// low bytes and the high bytes moved up one, joined, are the nine bytes.
// Two groups at a time, one in each half; the second half's whole 16-byte
// store runs into the next pair's bytes, which its stores then replace, so
// the last pair stores exactly its nine.
__attribute__((target("avx2"))) void expandAvx2(const std::uint8_t* in, std::size_t groups, std::uint8_t* out) {
    const __m256i scale = _mm256_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i lows = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                          0, 2, 4, 6, 8, 10, 12, 14, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i highs = _mm256_setr_epi8(-1, 1, 3, 5, 7, 9, 11, 13, 15, -1, -1, -1, -1, -1, -1, -1,  //
                                           -1, 1, 3, 5, 7, 9, 11, 13, 15, -1, -1, -1, -1, -1, -1, -1);
    for (; groups >= 2; groups -= 2, in += 16, out += 18) {
        const __m256i shifted =
            _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))), scale);
        const __m256i bytes = _mm256_or_si256(_mm256_shuffle_epi8(shifted, lows), _mm256_shuffle_epi8(shifted, highs));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
        const __m128i second = _mm256_extracti128_si256(bytes, 1);
        if (groups > 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 9), second);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 9), second);
            out[17] = static_cast<std::uint8_t>(_mm_extract_epi8(second, 8));
        }
    }
    if (groups == 1) {
        const __m128i shifted = _mm_mullo_epi16(_mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in))),
                                                _mm256_castsi256_si128(scale));
        const __m128i bytes = _mm_or_si128(_mm_shuffle_epi8(shifted, _mm256_castsi256_si128(lows)),
                                           _mm_shuffle_epi8(shifted, _mm256_castsi256_si128(highs)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
        out[8] = static_cast<std::uint8_t>(_mm_extract_epi8(bytes, 8));
    }
}

bool hasAvx2() { return __builtin_cpu_supports("avx2"); }

// The deposit reads and writes whole words in the machine's byte order.
constexpr bool littleEndian = std::endian::native == std::endian::little;
#endif

const LiteralPacker packers[] = {
    {"portable", always, expandPortable},
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    {"bmi2", littleEndian ? hasBmi2 : nullptr, expandBmi2},
    {"avx2", hasAvx2, expandAvx2},
#endif
};

// Where spread groups go: straight into framed sub-blocks in the sink,
// behind the held partial sub-block; a group that a sub-block's end cuts in
// two is spread aside and placed in two parts. One reservation holds them
// all, so a clear code's ninth bit can be set by its place among them. The
// new partial sub-block is held again.
struct Framer {
    GifCodeStream& stream;
    GifSink& sink;
    const LiteralPacker& packer;
    std::size_t held;     // bytes of the partial sub-block in front of the first group
    std::uint8_t* first;  // the first sub-block's length byte
    std::uint8_t* block;  // the length byte of the sub-block being filled
    std::size_t filled;   // its bytes so far

    // Room for `groups` groups at most.
    Framer(GifCodeStream& s, GifSink& k, const LiteralPacker& p, std::size_t groups)
        : stream(s), sink(k), packer(p), held(static_cast<std::size_t>(s.blockLength)) {
        const std::size_t total = held + 9 * groups;
        // A group placed whole past a sub-block's end stores up to 8 bytes
        // more than it keeps.
        first = sinkReserve(sink, total + total / 255 + 1 + 8);
        std::memcpy(first + 1, stream.block.data(), held);
        block = first;
        filled = held;
    }
    void close() {
        *block = 255;
        block += 256;
        filled = 0;
    }
    // A group spread aside put where the next group goes, cut in two at a
    // sub-block's end. It comes in registers and goes out in whole words:
    // reading back bytes just stored in other sizes stalls the processor.
    void place(std::uint64_t low, std::uint8_t high) {
        std::uint8_t* const at = block + 1 + filled;
        store64(at, low);
        at[8] = high;
        const std::size_t before = 255 - filled;
        if (before > 9) {
            filled += 9;
            return;
        }
        close();
        filled = 9 - before;
        if (filled == 0) return;
        const std::uint64_t rest = before == 8 ? high : low >> (8 * before) | std::uint64_t{high} << (8 * (8 - before));
        store64(block + 1, rest);
    }
    // Spreads one group aside and places it; its code `clear`, if below 8, is a clear code.
    void placeOne(const std::uint8_t* codes, std::size_t clear = 8) {
        std::array<std::uint8_t, 9> nine;
        packer.expand(codes, 1, nine.data());
        std::uint64_t low = load64(nine.data());
        auto high = nine[8];
        // A clear code's ninth bit: bit 9 * clear + 8 of the group.
        if (clear < 7) low |= std::uint64_t{1} << (9 * clear + 8);
        else if (clear == 7) high = static_cast<std::uint8_t>(high | 0x80);
        place(low, high);
    }
    void groups(const std::uint8_t* codes, std::size_t count) {
        while (count > 0) {
            const std::size_t whole = std::min((255 - filled) / 9, count);
            packer.expand(codes, whole, block + 1 + filled);
            filled += 9 * whole;
            codes += 8 * whole;
            count -= whole;
            if (filled == 255) {
                close();
            } else if (count > 0) {
                placeOne(codes);
                codes += 8;
                --count;
            }
        }
    }
    // Code `index` (counted from the first group placed) is a clear code.
    void markClear(std::size_t index) {
        const std::size_t byte = held + (9 * index + 8) / 8;
        std::uint8_t& at = first[byte / 255 * 256 + 1 + byte % 255];
        at = static_cast<std::uint8_t>(at | 1u << ((9 * index + 8) % 8));
    }
    void done() {
        std::memcpy(stream.block.data(), block + 1, filled);
        stream.blockLength = static_cast<std::int32_t>(filled);
        sinkCommit(sink, static_cast<std::size_t>(block - first));
    }
};

// Places the first `groups` groups of the pending codes; gives how many of
// the clear codes they hold.
std::size_t placePending(GifCodeStream& stream, Framer& out, std::size_t groups) {
    out.groups(stream.pending.data(), groups);
    std::size_t c = 0;
    for (; c < stream.clearCount && stream.clears[c] < 8 * groups; ++c) out.markClear(stream.clears[c]);
    return c;
}

// Packs the first `groups` groups of the pending codes; gives how many of
// the clear codes they hold.
std::size_t packGroups(GifCodeStream& stream, GifSink& sink, std::size_t groups, const LiteralPacker& packer) {
    Framer out(stream, sink, packer, groups);
    const std::size_t c = placePending(stream, out, groups);
    out.done();
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

// Calls of at least this many codes skip the gathering: their codes are
// spread straight from the caller's bytes. Shorter ones would spend more on
// copying the held partial sub-block in and out than they save.
constexpr std::size_t directFrom = 1024;

// The pending codes, whole groups of them, then whole groups straight from
// `in`, clear codes put in as they fall due, while a group's worth of input
// is left; gives where it stopped. Needs a clear limit of 8 or more (never
// two clear codes in one group).
const std::uint8_t* putDirect(GifCodeStream& stream, GifSink& sink, const std::uint8_t* in,
                              const std::uint8_t* const end, const LiteralPacker& packer) {
    const auto limit = static_cast<std::size_t>(stream.clearLimit);
    const auto left = static_cast<std::size_t>(end - in);
    Framer out(stream, sink, packer, stream.pendingCount / 8 + (left + left / limit) / 8 + 1);
    placePending(stream, out, stream.pendingCount / 8);
    stream.pendingCount = 0;
    stream.clearCount = 0;
    auto since = static_cast<std::size_t>(stream.codesSinceClear);
    for (;;) {
        const std::size_t plain = std::min((limit - since) / 8, static_cast<std::size_t>(end - in) / 8);
        out.groups(in, plain);
        in += 8 * plain;
        since += 8 * plain;
        // The group the next clear code falls in: `r` literals, the clear
        // code, seven less `r` literals.
        if (limit - since >= 8 || end - in < 7) break;
        const std::size_t r = limit - since;
        std::array<std::uint8_t, 8> codes;
        if (end - in >= 8) {
            // In one word, stored whole, as the spreading reads it whole.
            const std::uint64_t word = load64(in);
            const std::uint64_t kept = (std::uint64_t{1} << (8 * r)) - 1;  // the literals before the clear code
            store64(codes.data(), (word & kept) | (word << 8 & ~(kept << 8)));
        } else {
            std::memcpy(codes.data(), in, r);
            codes[r] = 0;
            std::memcpy(codes.data() + r + 1, in + r, 7 - r);
        }
        out.placeOne(codes.data(), r);
        in += 7;
        since = 7 - r;
    }
    stream.codesSinceClear = static_cast<std::int32_t>(since);
    out.done();
    return in;
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
// byte boundary at every group. A long call (a big picture's row) makes the
// gathered codes up to a whole group and spreads its own bytes where they
// lie, which saves copying every byte once: only the groups clear codes fall
// in are put together aside.
void putLiteralCodes(GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> codes,
                     const LiteralPacker& packer) {
    const std::uint8_t* next = codes.data();
    const std::uint8_t* const end = next + codes.size();
    stream.packer = &packer;
    std::uint8_t* const gathered = stream.pending.data();
    std::size_t count = stream.pendingCount;
    const auto gatherClear = [&] {
        stream.clears[stream.clearCount++] = static_cast<std::uint16_t>(count);
        gathered[count++] = 0;
        stream.codesSinceClear = 0;
    };
    if (codes.size() >= directFrom && stream.clearLimit >= 8) {
        // The pending codes made up to a whole group first.
        while (count % 8 != 0) {
            if (stream.codesSinceClear >= stream.clearLimit) {
                gatherClear();
            } else {
                gathered[count++] = *next++;
                ++stream.codesSinceClear;
            }
        }
        stream.pendingCount = count;
        next = putDirect(stream, sink, next, end, packer);
        count = 0;
    }
    const auto makeRoom = [&] {
        if (count < pieceCodes) return;
        packGroups(stream, sink, pieceCodes / 8, packer);
        count = 0;
        stream.clearCount = 0;
    };
    while (next != end) {
        makeRoom();
        if (stream.codesSinceClear >= stream.clearLimit) {
            gatherClear();
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
