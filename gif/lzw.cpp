#include "gif/lzw.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stop_token>
#include <system_error>
#include <thread>
#include <vector>

namespace quolb {
namespace {

constexpr unsigned tableSize = 4096;  // 12-bit codes
constexpr unsigned widestCode = 12;

// Packed bytes are cut into sub-blocks in batches of this many; the slack
// takes the whole-word stores past the batch's end.
constexpr std::size_t packedBatch = 64 * 255;
constexpr std::size_t packedSlack = 64;

// A full table is judged over windows of this many codes (the last ones
// that filled it, then each further run of them): it is kept while a window
// costs no more bits per index than filling the table did, nor more than an
// eighth above the best window since, and cleared as soon as one does.
// Measured on photographs, pixel art and noise: clearing at once gives files
// 4 to 10 % larger on the first two, keeping the table regardless 4 % larger
// on noise.
constexpr unsigned fullWindow = 512;
constexpr unsigned fullTolerance = 3;  // as a shift: 1/8

// Runs of one index longer than this are followed code by code.
constexpr std::uint32_t runMax = 256;

// Alphabets of up to this many indices use a direct child table of
// 4096 x alphabet entries (256 KiB at 32); wider ones the hash table.
constexpr int directAlphabetMax = 32;

// Hash slots: eight times the codes, so that nearly every search ends at
// its first slot (four times took measurably longer).
constexpr unsigned hashBits = 15;
constexpr std::uint32_t hashMask = (1u << hashBits) - 1;

// A slot is the prefix spread over the table, offset by a scrambled value per
// index: one shift and one exclusive or after the prefix is known, as the
// prefix is what each step waits for.
constexpr std::array<std::uint32_t, 256> indexScramble = [] {
    std::array<std::uint32_t, 256> values{};
    for (std::uint32_t i = 0; i < 256; ++i) values[i] = ((i + 1) * 0x9E3779B1u) >> (32 - hashBits);
    return values;
}();

inline std::uint32_t hashSlot(std::uint32_t prefix, std::uint32_t index) {
    return ((prefix << (hashBits - 12)) ^ indexScramble[index]) & hashMask;
}

// Runs of one index: codes[index * runMax + k] is the code of the index
// repeated k + 1 times, for k below top[index]. Such strings only grow one
// index at a time, so the ones that exist are always the shortest.
struct Runs {
    std::uint16_t* codes;
    std::uint16_t* top;
    std::uint16_t* last;  // by index: the code of its longest run string, apart
                          // from `codes` so that every new string checks it in one small array
    std::uint16_t* grown;  // grown[0] indices whose runs grew since the last clear, from grown[1]

    void reset(std::uint32_t alphabet) {
        for (std::uint32_t index = 0; index < alphabet; ++index) {
            codes[index * runMax] = static_cast<std::uint16_t>(index);
            top[index] = 1;
            last[index] = static_cast<std::uint16_t>(index);
        }
        grown[0] = 0;
    }
    // Only the runs that grew go back: noise clears its table every few
    // hundred codes, and few of its runs ever grow.
    void clear() {
        for (std::uint32_t k = 1; k <= grown[0]; ++k) {
            const std::uint32_t index = grown[k];
            top[index] = 1;
            last[index] = static_cast<std::uint16_t>(index);
        }
        grown[0] = 0;
    }
    void added(std::uint32_t prefix, std::uint32_t index, std::uint32_t code) {
        if (last[index] == prefix) {
            if (const std::uint32_t t = top[index]; t < runMax) {
                if (t == 1) grown[++grown[0]] = static_cast<std::uint16_t>(index);
                codes[index * runMax + t] = static_cast<std::uint16_t>(code);
                top[index] = static_cast<std::uint16_t>(t + 1);
                last[index] = static_cast<std::uint16_t>(code);
            }
        }
    }
    // How many of the indices at p (at most `longest`, and only the
    // `available` ones) repeat `index`. Whole words are compared while they
    // can be read, also for short runs: a loop index by index mispredicts its
    // end.
    static std::size_t repeats(const std::uint8_t* p, std::size_t longest, std::size_t available, std::uint32_t index) {
        const std::uint64_t pattern = 0x0101010101010101u * index;
        std::size_t n = 0;
        for (; n + 8 <= available; n += 8) {
            std::uint64_t word;
            std::memcpy(&word, p + n, 8);
            if (const std::uint64_t differ = word ^ pattern)
                return std::min(longest, n + static_cast<std::size_t>(std::countr_zero(differ)) / 8);
            if (n + 8 >= longest) return longest;
        }
        while (n < available && n < longest && p[n] == index) ++n;
        return n;
    }
};

// Slots of the wide alphabets' table: code << 20 | prefix << 8 | index,
// 0 when empty (no string added has code 0).
struct HashTable {
    std::uint32_t* slots;
    std::uint32_t* places;  // by code: its slot, so that a clear empties only those
    Runs runs;
    std::uint32_t first;     // the first code added after a clear
    std::uint32_t slot = 0;  // where the last search ended: a new string's place

    static std::uint32_t symbol(std::uint8_t index) { return index; }
    // The code of `prefix` followed by `index`, or 0.
    std::uint32_t find(std::uint32_t prefix, std::uint32_t index) {
        const std::uint32_t key = prefix << 8 | index;
        for (std::uint32_t s = hashSlot(prefix, index);; s = (s + 1) & hashMask) {
            const std::uint32_t entry = slots[s];
            if (((entry ^ key) & 0xFFFFF) == 0 || entry == 0) {  // empty slots give 0 for any key
                slot = s;
                return entry >> 20;
            }
        }
    }
    void add(std::uint32_t prefix, std::uint32_t index, std::uint32_t code) {
        slots[slot] = code << 20 | prefix << 8 | index;
        places[code] = slot;
        runs.added(prefix, index, code);
    }
    void clear(unsigned nextCode) {
        for (std::uint32_t code = first; code < nextCode; ++code) slots[places[code]] = 0;
        runs.clear();
    }
};

struct DirectTable {
    std::uint16_t* children;
    Runs runs;
    unsigned shift;       // log2 of the alphabet
    std::uint32_t first;  // codes below it are the only ones that start with children to clear

    // Indices past the alphabet would break the stream anyway; masking them
    // keeps every access inside the table.
    std::uint32_t symbol(std::uint8_t index) const { return index & ((1u << shift) - 1); }
    std::uint32_t find(std::uint32_t prefix, std::uint32_t index) const { return children[prefix << shift | index]; }
    // A new code starts without children, so only its own row is cleared:
    // always as much as the widest row, a fixed size that needs no call.
    // Narrower rows take the rows of codes not added yet with them, which
    // are cleared again when they are, and the table's padding at its end.
    void add(std::uint32_t prefix, std::uint32_t index, std::uint32_t code) {
        children[prefix << shift | index] = static_cast<std::uint16_t>(code);
        std::memset(children + (code << shift), 0, sizeof(std::uint16_t) * directAlphabetMax);
        runs.added(prefix, index, code);
    }
    void clear(unsigned) {
        std::memset(children, 0, sizeof(std::uint16_t) * first << shift);
        runs.clear();
    }
};

int firstCode(const LzwEncoder& encoder) { return (1 << encoder.minimumCodeSize) + 2; }
std::uint32_t clearCode(const LzwEncoder& encoder) { return 1u << encoder.minimumCodeSize; }

// The hot state in locals: the bit accumulator and where packed bytes go.
// Every code stores a whole word and moves on by the bytes it completed, so
// there is no branch on how full the accumulator is; the packed buffer's
// slack takes the word's spare bytes.
struct Packer {
    std::uint64_t bits;
    unsigned bitCount;  // below 8 between codes
    std::uint8_t* out;

    void put(std::uint32_t code, unsigned width) {
        bits |= std::uint64_t{code} << bitCount;
        bitCount += width;
        std::memcpy(out, &bits, 8);
        out += bitCount >> 3;
        bits >>= bitCount & ~7u;
        bitCount &= 7;
    }
};

// The packer takes up where the encoder's last call left its bits, and
// gives them back at the end of each.
Packer resume(const LzwEncoder& encoder) {
    return Packer{encoder.bits, encoder.bitCount, encoder.packed.get() + encoder.packedLength};
}
void keep(LzwEncoder& encoder, const Packer& packer) {
    encoder.bits = packer.bits;
    encoder.bitCount = packer.bitCount;
    encoder.packedLength = static_cast<std::size_t>(packer.out - encoder.packed.get());
}

// Cuts the packed bytes into sub-blocks, all of them or only whole ones;
// an unframed encoder hands them all on as they are.
void cutBlocks(LzwEncoder& encoder, GifSink& sink, bool all) {
    const std::size_t length = encoder.packedLength;
    if (encoder.unframed) {
        sinkWrite(sink, encoder.packed.get(), length);
        encoder.packedLength = 0;
        return;
    }
    const std::size_t whole = all ? length : length - length % 255;
    if (whole == 0) return;
    std::uint8_t* out = sinkReserve(sink, whole + (whole + 254) / 255);
    std::uint8_t* const start = out;
    for (std::size_t at = 0; at < whole; at += 255) {
        const std::size_t n = std::min<std::size_t>(255, whole - at);
        *out++ = static_cast<std::uint8_t>(n);
        std::memcpy(out, encoder.packed.get() + at, n);
        out += n;
    }
    sinkCommit(sink, static_cast<std::size_t>(out - start));
    std::memmove(encoder.packed.get(), encoder.packed.get() + whole, length - whole);
    encoder.packedLength = length - whole;
}

// The bits a table costs from its clear code until it is full: one code per
// new string, each as wide as the decoder's table then needs.
constexpr std::array<std::uint64_t, 9> fillBits = [] {
    std::array<std::uint64_t, 9> bits{};
    for (unsigned size = 2; size <= 8; ++size) {
        bits[size] = size + 1;  // the clear code
        for (unsigned next = (1u << size) + 2; next < tableSize; ++next) bits[size] += std::bit_width(next);
    }
    return bits;
}();

// At the end of a window over a full table: whether to clear it.
bool judgeFullTable(LzwEncoder& encoder, std::uint64_t at) {
    const std::uint64_t ratio = (encoder.windowCodes * widestCode << 16) / std::max<std::uint64_t>(1, at - encoder.windowAt);
    encoder.windowAt = at;
    encoder.windowCodes = 0;
    const bool clear = ratio > encoder.fillRatio ||
                       (encoder.bestRatio != UINT64_MAX && ratio > encoder.bestRatio + (encoder.bestRatio >> fullTolerance));
    encoder.bestRatio = std::min(encoder.bestRatio, ratio);
    return clear;
}

bool startFullTable(LzwEncoder& encoder, std::uint64_t at) {
    const std::uint64_t filled = std::max<std::uint64_t>(1, at - encoder.restartAt);
    encoder.fillRatio = (fillBits[static_cast<std::size_t>(encoder.minimumCodeSize)] << 16) / filled;
    encoder.bestRatio = UINT64_MAX;
    return judgeFullTable(encoder, at);
}

// When the codes widen: how much the table has been used since its clear.
// Hardly: fewer than one code in 64 sent more than one index, once it holds
// `earliest` strings (fewer say nothing either way). Noise is like that at
// every size of table, so wider codes only cost it bits: clearing keeps them
// 9 bits wide, which makes 256-colour noise 18 % smaller. Dithered
// photographs, the nearest to noise that still pays, mostly reach one in 25
// or more by then.
constexpr unsigned earliest = 128;
enum class TableUse { tooEarly, hardly, enough };
TableUse tableUse(const LzwEncoder& encoder, unsigned nextCode, std::uint64_t at) {
    const std::uint64_t added = nextCode - static_cast<unsigned>(firstCode(encoder));
    if (added < earliest) return TableUse::tooEarly;
    return (at - encoder.restartAt) * 64 < added * 65 ? TableUse::hardly : TableUse::enough;
}

// Noise: after this many tables in a row found hardly used, the indices go
// out as they are for a first stretch of this many, doubled up to the
// longest while the tables tried between stretches stay hardly used. Each
// try costs about 260 indices searched; the longest stretch bounds what a
// picture that turns compressible loses. Only alphabets of 128 indices or
// more: in 64-index noise 2.3 % of codes already send a pair when a table is
// first judged, at 256 codes (128-index noise: 1.1 % at 512), so its tables
// never look hardly used.
constexpr unsigned literalAfter = 4;
constexpr std::uint64_t literalFirst = 4096;
constexpr std::uint64_t literalLongest = 65536;
constexpr int literalMinimumCodeSize = 7;

template <typename Table>
void restart(LzwEncoder& encoder, Table& table, Packer& packer, unsigned nextCode, unsigned width) {
    packer.put(clearCode(encoder), width);
    table.clear(nextCode);
    encoder.nextCode = firstCode(encoder);
    encoder.codeWidth = encoder.minimumCodeSize + 1;
}

// The state the inner loops keep in registers.
struct Matching {
    const std::uint8_t* p;
    std::uint32_t prefix;
    unsigned nextCode;
    std::uint32_t runAtEnd;  // the length of the run string a jump ended the input in, 0 if none did
};

// While the string matched so far is `length` repeats of `index`, it jumps
// to the longest run string the table holds that the input repeats.
template <typename Table>
inline void extendRun(const Table& table, Matching& m, const std::uint8_t* end, std::uint32_t index, std::uint32_t length) {
    if (m.p != end && *m.p == index && table.runs.top[index] > length) {
        const std::uint32_t top = table.runs.top[index];
        const std::size_t n = Runs::repeats(m.p, top - length, static_cast<std::size_t>(end - m.p), index);
        m.prefix = table.runs.codes[index * runMax + length - 1 + n];
        m.p += n;
        if (m.p == end) m.runAtEnd = static_cast<std::uint32_t>(length + n);
    }
}

// After a new code, a string starting a run of its index jumps in one step.
template <typename Table>
inline void jumpRun(const Table& table, Matching& m, const std::uint8_t* end, std::uint32_t index) {
    extendRun(table, m, end, index, 1);
}

// Matches while the table grows, until the input ends or code `limit` has
// been added. Nothing in between changes the code width or needs judging,
// so the loop checks nothing else.
template <typename Table>
inline void growTable(Table& table, Packer& packer, Matching& m, const std::uint8_t* end, unsigned limit, unsigned width) {
    Matching s = m;
    while (s.p != end) {
        const std::uint32_t index = table.symbol(*s.p++);
        if (const std::uint32_t child = table.find(s.prefix, index)) {
            s.prefix = child;
            continue;
        }
        packer.put(s.prefix, width);
        table.add(s.prefix, index, s.nextCode);
        s.prefix = index;
        if (++s.nextCode == limit) break;
        jumpRun(table, s, end, index);
    }
    m = s;
}

// Matches over a full table until the input ends or `budget` codes have
// been sent; returns how many were.
template <typename Table>
inline unsigned useFullTable(Table& table, Packer& packer, Matching& m, const std::uint8_t* end, unsigned budget) {
    Matching s = m;
    unsigned sent = 0;
    while (s.p != end) {
        const std::uint32_t index = table.symbol(*s.p++);
        if (const std::uint32_t child = table.find(s.prefix, index)) {
            s.prefix = child;
            continue;
        }
        packer.put(s.prefix, widestCode);
        s.prefix = index;
        if (++sent == budget) break;
        jumpRun(table, s, end, index);
    }
    m = s;
    return sent;
}

// Sends the next `count` indices each as its own code, the decoder's
// table growing by one string for each but never read; a clear code goes
// out after 2^m - 3 codes, before the codes would widen.
template <typename Table>
inline void sendLiterals(const Table& table, Packer& packer, Matching& m, std::size_t count, unsigned width,
                         unsigned first, std::uint32_t clear) {
    const unsigned clearAt = (1u << width) - 1;
    for (const std::uint8_t* const stop = m.p + count; m.p != stop;) {
        const std::uint32_t index = table.symbol(*m.p++);
        packer.put(m.prefix, width);
        m.prefix = index;
        if (++m.nextCode == clearAt) {
            packer.put(clear, width);
            m.nextCode = first;
        }
    }
}

template <typename Table>
void feed(LzwEncoder& encoder, GifSink& sink, Table table, const std::uint8_t* p, const std::uint8_t* const end) {
    if (p == end) return;
    const std::uint8_t* const begin = p;
    Matching m{p, 0, static_cast<unsigned>(encoder.nextCode), 0};
    m.prefix = encoder.prefix < 0 ? table.symbol(*m.p++) : static_cast<std::uint32_t>(encoder.prefix);
    // A run that reaches past the end of one piece of input (a row's end
    // into the next row's start, on a plain background) jumps on here, where
    // it would otherwise be followed index by index.
    if (encoder.literalLeft == 0) {
        if (m.prefix < 1u << encoder.minimumCodeSize)
            extendRun(table, m, end, m.prefix, 1);
        else if (encoder.runLength > 0)
            extendRun(table, m, end, encoder.runIndex, encoder.runLength);
    }
    std::uint8_t* const packed = encoder.packed.get();
    Packer packer = resume(encoder);
    const auto position = [&] { return encoder.consumed + static_cast<std::uint64_t>(m.p - begin); };
    // Sends a clear code at the present width and gives the width after it.
    const auto clearTable = [&](unsigned width) {
        restart(encoder, table, packer, m.nextCode, width);
        m.nextCode = static_cast<unsigned>(encoder.nextCode);
        encoder.restartAt = position();
        return static_cast<unsigned>(encoder.codeWidth);
    };
    constexpr unsigned lastWindow = tableSize - fullWindow;  // the code that starts the filling's last window

    unsigned width = static_cast<unsigned>(encoder.codeWidth);
    while (m.p != end) {
        if (static_cast<std::size_t>(packer.out - packed) >= packedBatch) {
            encoder.packedLength = static_cast<std::size_t>(packer.out - packed);
            cutBlocks(encoder, sink, false);
            packer.out = packed + encoder.packedLength;
        }
        // A code takes at most two bytes: this many fit in the batch.
        const auto room = static_cast<unsigned>(packedBatch - static_cast<std::size_t>(packer.out - packed)) / 2 + 1;
        if (encoder.literalLeft > 0) {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>({encoder.literalLeft, static_cast<std::uint64_t>(end - m.p), room}));
            const auto first = static_cast<unsigned>(firstCode(encoder));
            sendLiterals(table, packer, m, n, width, first, clearCode(encoder));
            encoder.literalLeft -= n;
            if (encoder.literalLeft == 0) {
                // The table was cleared when the stretch began and has held
                // nothing since; only the decoder's needs clearing.
                if (m.nextCode != first) {
                    packer.put(clearCode(encoder), width);
                    m.nextCode = first;
                }
                encoder.restartAt = position();
            }
            continue;
        }
        if (m.nextCode < tableSize) {
            // Up to the code whose addition widens the codes, starts the
            // filling's last window or fills the table.
            const unsigned before = m.nextCode;
            unsigned limit = std::min({(1u << width) + 1, tableSize, before + room});
            if (before < lastWindow) limit = std::min(limit, lastWindow);
            growTable(table, packer, m, end, limit, width);
            if (m.nextCode == before) continue;
            if (m.nextCode > 1u << width) {
                ++width;
                const TableUse use = tableUse(encoder, m.nextCode, position());
                if (use == TableUse::hardly) {
                    width = clearTable(width);
                    if (++encoder.hardlyUsedRun >= literalAfter && encoder.minimumCodeSize >= literalMinimumCodeSize) {
                        encoder.literalLeft = encoder.literalSpan;
                        encoder.literalSpan = std::min(2 * encoder.literalSpan, literalLongest);
                    }
                } else if (use == TableUse::enough) {
                    encoder.hardlyUsedRun = 0;
                    encoder.literalSpan = literalFirst;
                }
            }
            if (m.nextCode == lastWindow) encoder.windowAt = position();
            if (m.nextCode == tableSize) {
                encoder.windowCodes = fullWindow;
                if (startFullTable(encoder, position())) width = clearTable(width);
            }
        } else {
            const auto budget = std::min(room, static_cast<unsigned>(fullWindow - encoder.windowCodes));
            encoder.windowCodes += useFullTable(table, packer, m, end, budget);
            if (encoder.windowCodes >= fullWindow && judgeFullTable(encoder, position())) width = clearTable(width);
        }
    }
    encoder.nextCode = static_cast<int>(m.nextCode);
    encoder.codeWidth = static_cast<int>(width);
    encoder.consumed = position();
    encoder.prefix = static_cast<int>(m.prefix);
    encoder.runLength = m.runAtEnd;
    encoder.runIndex = table.symbol(end[-1]);
    keep(encoder, packer);
}

bool usesDirect(const LzwEncoder& encoder) { return (1 << encoder.minimumCodeSize) <= directAlphabetMax; }

Runs runs(const LzwEncoder& encoder) {
    return Runs{encoder.runs.get(), encoder.runs.get() + runMax * 256, encoder.runs.get() + (runMax + 1) * 256,
                encoder.runs.get() + (runMax + 2) * 256};
}
HashTable hashTable(const LzwEncoder& encoder) {
    return HashTable{encoder.hashed.get(), encoder.hashPlaces.get(), runs(encoder), static_cast<std::uint32_t>(firstCode(encoder))};
}
DirectTable directTable(const LzwEncoder& encoder) {
    return DirectTable{encoder.direct.get(), runs(encoder), static_cast<unsigned>(encoder.minimumCodeSize),
                       static_cast<std::uint32_t>(firstCode(encoder))};
}

// Sends the code of the string matched so far, then `code` (the end code
// or a clear code) as wide as the decoder then reads it; gives the packer
// holding the bits that do not make a whole byte yet.
Packer closeStream(LzwEncoder& encoder, int code) {
    Packer packer = resume(encoder);
    if (encoder.prefix >= 0) {
        packer.put(static_cast<std::uint32_t>(encoder.prefix), static_cast<unsigned>(encoder.codeWidth));
        // The decoder adds a string for this code before it reads the next
        // one, and may widen its codes for it.
        if (encoder.nextCode < static_cast<int>(tableSize) && ++encoder.nextCode > 1 << encoder.codeWidth) ++encoder.codeWidth;
    }
    packer.put(static_cast<std::uint32_t>(code), static_cast<unsigned>(encoder.codeWidth));
    return packer;
}

// Appends whole bytes to the encoder's stream from the bit it has reached.
void appendBytes(LzwEncoder& encoder, GifSink& sink, const std::uint8_t* bytes, std::size_t count) {
    const unsigned shift = encoder.bitCount;
    while (count > 0) {
        if (encoder.packedLength >= packedBatch) cutBlocks(encoder, sink, false);
        const std::size_t n = std::min(count, packedBatch - encoder.packedLength);
        std::uint8_t* const out = encoder.packed.get() + encoder.packedLength;
        if (shift == 0) {
            std::memcpy(out, bytes, n);
        } else {
            std::uint64_t carry = encoder.bits;  // below 2^shift
            std::size_t i = 0;
            for (; i + 8 <= n; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, bytes + i, 8);
                const std::uint64_t joined = carry | word << shift;
                std::memcpy(out + i, &joined, 8);
                carry = word >> (64 - shift);
            }
            for (; i < n; ++i) {
                out[i] = static_cast<std::uint8_t>(carry | unsigned{bytes[i]} << shift);
                carry = bytes[i] >> (8 - shift);
            }
            encoder.bits = carry;
        }
        encoder.packedLength += n;
        bytes += n;
        count -= n;
    }
}

// Images this large are compressed in two halves.
constexpr std::size_t halvesFrom = std::size_t{1} << 18;

// Feeds rows [first, last) until they are done (true), the sink holds
// `limit` bytes or more, or a stop is asked for.
bool feedRows(LzwEncoder& encoder, GifSink& sink, const LzwRows& rows, std::size_t width, std::size_t first,
              std::size_t last, std::size_t limit, const std::stop_token& stop) {
    std::vector<std::uint8_t> scratch(width);
    for (std::size_t row = first; row < last; ++row) {
        if (stop.stop_requested()) return false;
        lzwFeed(encoder, sink, rows(row, scratch));
        if (sink.used >= limit) return false;
    }
    return true;
}

}  // namespace

void lzwBegin(LzwEncoder& encoder, int minimumCodeSize) {
    encoder.minimumCodeSize = std::clamp(minimumCodeSize, 2, 8);
    encoder.unframed = false;
    if (!encoder.packed) encoder.packed = std::make_unique_for_overwrite<std::uint8_t[]>(packedBatch + packedSlack);
    if (!encoder.runs) encoder.runs = std::make_unique_for_overwrite<std::uint16_t[]>((runMax + 3) * 256 + 1);
    runs(encoder).reset(1u << encoder.minimumCodeSize);
    encoder.packedLength = 0;
    encoder.consumed = encoder.restartAt = 0;
    encoder.prefix = -1;
    encoder.bits = 0;
    encoder.bitCount = 0;
    encoder.codeWidth = encoder.minimumCodeSize + 1;
    encoder.runLength = 0;
    encoder.literalLeft = 0;
    encoder.literalSpan = literalFirst;
    encoder.hardlyUsedRun = 0;
    Packer packer{0, 0, encoder.packed.get()};
    if (usesDirect(encoder)) {
        if (!encoder.direct)
            encoder.direct = std::make_unique_for_overwrite<std::uint16_t[]>(std::size_t{tableSize + 1} * directAlphabetMax);
        DirectTable table = directTable(encoder);
        restart(encoder, table, packer, 0, static_cast<unsigned>(encoder.codeWidth));
    } else {
        if (!encoder.hashed) encoder.hashed = std::make_unique_for_overwrite<std::uint32_t[]>(std::size_t{1} << hashBits);
        if (!encoder.hashPlaces) encoder.hashPlaces = std::make_unique_for_overwrite<std::uint32_t[]>(tableSize);
        // The table may hold an earlier image's strings.
        std::memset(encoder.hashed.get(), 0, sizeof(std::uint32_t) << hashBits);
        HashTable table = hashTable(encoder);
        restart(encoder, table, packer, 0, static_cast<unsigned>(encoder.codeWidth));
    }
    keep(encoder, packer);
}

void lzwFeed(LzwEncoder& encoder, GifSink& sink, std::span<const std::uint8_t> indices) {
    const std::uint8_t* p = indices.data();
    if (usesDirect(encoder))
        feed(encoder, sink, directTable(encoder), p, p + indices.size());
    else
        feed(encoder, sink, hashTable(encoder), p, p + indices.size());
}

void lzwFinish(LzwEncoder& encoder, GifSink& sink) {
    std::uint8_t* const packed = encoder.packed.get();
    Packer packer = closeStream(encoder, (1 << encoder.minimumCodeSize) + 1);
    for (; packer.bitCount > 0; packer.bitCount -= std::min(packer.bitCount, 8u)) {
        *packer.out++ = static_cast<std::uint8_t>(packer.bits);
        packer.bits >>= 8;
    }
    encoder.packedLength = static_cast<std::size_t>(packer.out - packed);
    encoder.prefix = -1;
    encoder.bits = 0;
    encoder.bitCount = 0;
    cutBlocks(encoder, sink, true);
}

bool lzwCompress(GifSink& sink, int minimumCodeSize, std::size_t width, std::size_t height, const LzwRows& rows,
                 bool inOrder, std::size_t limit) {
    // The tables stay with the thread: a batch of small pictures would
    // otherwise take fresh pages for them (half a megabyte) every time.
    thread_local LzwEncoder upper;
    lzwBegin(upper, minimumCodeSize);
    if (inOrder || height < 2 || width * height < halvesFrom) {
        if (!feedRows(upper, sink, rows, width, 0, height, limit, {})) return false;
        lzwFinish(upper, sink);
        return sink.used < limit;
    }

    const std::size_t split = height / 2;
    LzwEncoder lower;
    GifSink lowerBytes;
    int lowerDone = -1;  // -1 not compressed (no thread or no memory), 0 over the limit, 1 done
    const auto compressLower = [&](const std::stop_token& stop) {
        lowerBytes.used = 0;
        lzwBegin(lower, minimumCodeSize);
        // The upper half's stream sends the clear code that starts this one.
        lower.unframed = true;
        lower.packedLength = 0;
        lower.bits = 0;
        lower.bitCount = 0;
        lowerDone = feedRows(lower, lowerBytes, rows, width, split, height, limit, stop) ? 1 : 0;
    };
    {
        std::jthread worker;
        try {
            worker = std::jthread([&](const std::stop_token& stop) {
                try {
                    compressLower(stop);
                } catch (const std::bad_alloc&) {
                    lowerDone = -1;  // the caller tries again, and fails with it
                }
            });
        } catch (const std::system_error&) {
            // No thread: this one compresses the lower half after the upper.
        }
        if (!feedRows(upper, sink, rows, width, 0, split, limit, {})) return false;  // stops and joins the worker
        if (worker.joinable()) worker.join();  // leaving the scope would ask it to stop
    }
    if (lowerDone < 0) compressLower({});
    if (lowerDone == 0) return false;

    keep(upper, closeStream(upper, 1 << minimumCodeSize));
    appendBytes(upper, sink, lowerBytes.buffer.get(), lowerBytes.used);
    appendBytes(upper, sink, lower.packed.get(), lower.packedLength);
    Packer packer = resume(upper);
    if (lower.bitCount > 0) packer.put(static_cast<std::uint32_t>(lower.bits), lower.bitCount);
    keep(upper, packer);
    upper.prefix = lower.prefix;
    upper.nextCode = lower.nextCode;
    upper.codeWidth = lower.codeWidth;
    lzwFinish(upper, sink);
    return sink.used < limit;
}

}  // namespace quolb
