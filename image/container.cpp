// Compressed containers, as this program reads them.
//
// A container holds one TIM picture, its first byte (0x10) ending the header
// and the rest of the picture compressed. Two header forms:
//   "TIM" form, 9 bytes: "TIM", mode byte (1 means mode 3), 4 bytes not
//   used, 0x10.
//   "LZSS-bu2" form, 17 bytes: "LZSS-bu2", 2 bytes not used, "M" or "L",
//   mode byte, 4 bytes not used, 0x10.
// The payload is a run of groups: a flag byte, then up to eight items read
// from its bit 7 down; a clear bit is one literal byte, a set bit a
// back-reference of two bytes b1, b2:
//   mode 0: window 256,  offset b1,                 length b2
//   mode 1: window 256,  offset b1,                 length b2 + 2
//   mode 2: window 4096, offset b1 * 16 + (b2 >> 4), length (b2 & 15) + 2
//   mode 3: window 4096, offset b1 * 16 + (b2 >> 4), length b2 & 15
// A back-reference at output position k copies, one byte at a time and
// forward (so an overlapping copy repeats), from max(k - window, -1) +
// offset. The output is one flat area of 300,000 bytes, never a ring.
// Decoded byte 3 is the TIM flags' low byte, which says the picture's kind;
// the TIM data after the flags starts at decoded byte 7.
#include "image/container.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "image/tim.h"

namespace quolb {
namespace {

constexpr std::uint8_t timFirstByte = 0x10;
constexpr std::size_t timFormHeader = 9;
constexpr std::size_t bu2FormHeader = 17;
constexpr std::size_t readChunk = std::size_t{1} << 20;

// The decoder's output area: one picture's TIM data must fit in it.
constexpr std::size_t outputSize = 300000;
// Room past the area that the decoder may scribble on while copying.
constexpr std::size_t outputSlack = 32;

const char* const outputOverflow = "compressed data decodes to more than 300000 bytes";
const char* const referenceBeforeStart = "back-reference before the start of the output";
const char* const referencePastEnd = "back-reference past the bytes decoded so far";

struct ContainerHeader {
    ContainerForm form = ContainerForm::unknown;
    int mode = -1;
    std::size_t size = 0;
};

// Tells the header form from the item's first bytes; a header cut short by
// the end of the item does not match.
int readContainerHeader(std::span<const std::uint8_t> item, ContainerHeader& header, std::string* why) {
    if (item.size() >= 3 && std::memcmp(item.data(), "TIM", 3) == 0) {
        if (item.size() < timFormHeader) return fail(why, "container header is cut short");
        if (item[8] != timFirstByte) return fail(why, "\"TIM\" container header does not end in 0x10");
        header = {ContainerForm::tim, item[3] == 1 ? 3 : item[3], timFormHeader};
        return 1;
    }
    if (item.size() < 8 || std::memcmp(item.data(), "LZSS-bu2", 8) != 0)
        return fail(why, "not a compressed container (unknown header)");
    if (item.size() < bu2FormHeader) return fail(why, "container header is cut short");
    if (item[10] != 'M' && item[10] != 'L')
        return fail(why, "\"LZSS-bu2\" container header has neither \"M\" nor \"L\" at byte 10");
    if (item[16] != timFirstByte) return fail(why, "\"LZSS-bu2\" container header does not end in 0x10");
    header = {ContainerForm::lzssBu2, item[11], bu2FormHeader};
    return 1;
}

// The output area with room for the decoder's wide copies; not zeroed, since
// only decoded bytes are ever read from it.
std::unique_ptr<std::uint8_t[]> makeOutputArea() {
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[outputSize + outputSlack]);
}

// One payload's decoding state, so a payload can be fed in pieces.
struct LzssDecoder {
    int mode = 0;                  // 0 to 3
    std::uint8_t* output = nullptr;
    std::size_t written = 0;       // k, the bytes decoded so far
    unsigned flags = 0;            // the current flag byte, next bit in bit 7
    int flagBits = 0;              // bits of `flags` not yet used
};

// Hands the decoded TIM picture (without its first byte) to its conversion.
int handOver(Picture& picture, const std::uint8_t* output, std::size_t decoded, std::string* why) {
    if (decoded < 4) return fail(why, "compressed data is too short to hold a TIM picture");
    const std::span<const std::uint8_t> data(output + std::min<std::size_t>(7, decoded),
                                             decoded - std::min<std::size_t>(7, decoded));
    return decodeTim(picture, output[3], data, why);
}

// The longest copy a back-reference makes in each mode.
constexpr std::size_t longestCopy(int mode) { return mode == 0 ? 255 : mode == 1 ? 257 : mode == 2 ? 17 : 15; }

// Copies back-reference (b1, b2) to output position k and moves k past it;
// the failure when it reaches before the output, past what is decoded or
// past the area. Copies eight bytes at a time where the source stays eight
// behind, so the last chunk may run into the slack past the area.
template <int Mode>
inline const char* copyReference(std::uint8_t* out, std::size_t& k, unsigned b1, unsigned b2) {
    constexpr std::size_t window = Mode < 2 ? 256 : 4096;
    std::size_t offset = 0;
    std::size_t length = 0;
    if constexpr (Mode < 2) {
        offset = b1;
        length = Mode == 0 ? b2 : b2 + 2;
    } else {
        offset = b1 * 16 + (b2 >> 4);
        length = Mode == 2 ? (b2 & 15) + 2 : b2 & 15;
    }
    if (length == 0) return nullptr;
    // max(k - window, -1) + offset, kept unsigned: the base is k + 1 - window
    // or, early on, 0 with the offset one short.
    if (k < window && offset == 0) return referenceBeforeStart;
    const std::size_t source = k + 1 >= window ? k - window + offset : offset - 1;
    if (source >= k) return referencePastEnd;
    if (length > outputSize - k) return outputOverflow;
    std::uint8_t* to = out + k;
    const std::uint8_t* from = out + source;
    if (k - source >= 8) {
        // Eight bytes at a time stay behind the write position, so this
        // equals the byte-by-byte copy.
        std::memcpy(to, from, 8);
        for (std::size_t t = 8; t < length; t += 8) std::memcpy(to + t, from + t, 8);
    } else {
        for (std::size_t t = 0; t < length; ++t) to[t] = from[t];
    }
    k += length;
    return nullptr;
}

// A whole group (its flag byte at p) far enough from the input's end and the
// area's end that no item in it needs either checked: literals go out as
// runs, eight bytes at a time. Returns the failure or null.
template <int Mode>
inline const char* decodeGroup(const std::uint8_t*& p, std::uint8_t* out, std::size_t& k) {
    std::uint32_t flags = std::uint32_t{*p++} << 24;  // the next item's bit on top
    for (int left = 8; left > 0;) {
        if ((flags & 0x80000000u) == 0) {
            const int run = std::min(left, std::countl_zero(flags));
            std::memcpy(out + k, p, 8);
            k += static_cast<std::size_t>(run);
            p += run;
            flags <<= run;
            left -= run;
        } else {
            if (const char* failure = copyReference<Mode>(out, k, p[0], p[1])) return failure;
            p += 2;
            flags <<= 1;
            --left;
        }
    }
    return nullptr;
}

// Decodes from `input` as far as it goes and adds the bytes used to `used`:
// all of them, except that a back-reference whose second byte has not
// arrived yet is left unused unless `last` says no more bytes follow (then it
// is dropped). Fails on a payload that would overflow the output or a
// back-reference to bytes that are not there.
template <int Mode>
int feedMode(LzssDecoder& d, std::span<const std::uint8_t> input, bool last, std::size_t& used, std::string* why) {
    constexpr std::size_t capacity = outputSize;
    // A group reads at most its flag byte and 16 more, and a literal run's
    // copy eight past its first; it writes at most eight of the longest
    // copies, and a run's copy eight past the last.
    constexpr std::ptrdiff_t groupInput = 1 + 16 + 8;
    constexpr std::size_t groupOutput = 8 * longestCopy(Mode) + 8;
    const std::uint8_t* p = input.data();
    const std::uint8_t* const end = p + input.size();
    std::uint8_t* const out = d.output;
    const char* failure = nullptr;
    std::size_t k = d.written;
    unsigned flags = d.flags;
    int bits = d.flagBits;

    for (;;) {
        if (bits == 0) {
            if (end - p >= groupInput && capacity - k >= groupOutput) {
                if ((failure = decodeGroup<Mode>(p, out, k))) break;
                continue;
            }
            if (p == end) break;
            flags = *p++;
            bits = 8;
        }
        if (p == end) break;
        if ((flags & 0x80) == 0) {
            if (k == capacity) {
                failure = outputOverflow;
                break;
            }
            out[k++] = *p++;
        } else if (end - p < 2) {
            if (!last) break;  // its second byte comes with the next piece
            p = end;           // no second byte will come: dropped
            bits = 1;
        } else {
            failure = copyReference<Mode>(out, k, p[0], p[1]);
            if (failure) break;
            p += 2;
        }
        flags <<= 1;
        --bits;
    }
    d.written = k;
    d.flags = flags & 0xFF;
    d.flagBits = bits;
    used += static_cast<std::size_t>(p - input.data());
    return failure ? fail(why, failure) : 1;
}

int unsupportedMode(int mode, std::string* why) {
    return fail(why, "compression mode " + std::to_string(mode) + " is not supported");
}

int feedLzss(LzssDecoder& decoder, std::span<const std::uint8_t> input, bool last, std::size_t& used,
             std::string* why) {
    switch (decoder.mode) {
    case 0: return feedMode<0>(decoder, input, last, used, why);
    case 1: return feedMode<1>(decoder, input, last, used, why);
    case 2: return feedMode<2>(decoder, input, last, used, why);
    case 3: return feedMode<3>(decoder, input, last, used, why);
    default: return unsupportedMode(decoder.mode, why);
    }
}

// Reads up to `count` bytes; fewer only where the stream ends.
std::size_t readUpTo(std::FILE* file, std::uint8_t* to, std::int64_t count) {
    return count > 0 ? std::fread(to, 1, static_cast<std::size_t>(count), file) : 0;
}

}  // namespace

int decodeLzss(Picture& picture, std::FILE* file, std::int64_t payloadLength, int mode, std::string* why) {
    if (mode < 0 || mode > 3) return unsupportedMode(mode, why);
    // The payload is read in pieces of at most readChunk bytes, so a long one
    // (zero-length copies can make one arbitrarily long) never needs more
    // memory than one piece and the output area.
    std::int64_t unread = std::max<std::int64_t>(payloadLength, 0);
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::max<std::int64_t>(std::min<std::int64_t>(unread, readChunk), 2)));
    std::size_t held = 0;
    const auto readMore = [&] {
        const std::int64_t want = std::min<std::int64_t>(unread, static_cast<std::int64_t>(buffer.size() - held));
        const std::size_t got = readUpTo(file, buffer.data() + held, want);
        held += got;
        unread = static_cast<std::int64_t>(got) < want ? 0 : unread - want;  // a short file ends the payload
    };

    const auto area = makeOutputArea();
    LzssDecoder decoder;
    decoder.mode = mode;
    decoder.output = area.get();
    for (;;) {
        readMore();
        const bool last = unread == 0;
        std::size_t used = 0;
        if (!feedLzss(decoder, std::span(buffer.data(), held), last, used, why)) return 0;
        if (last) break;
        // Keep the half of a back-reference that waits for its second byte.
        std::memmove(buffer.data(), buffer.data() + used, held - used);
        held -= used;
    }
    return handOver(picture, area.get(), decoder.written, why);
}

int loadContainer(Picture& picture, std::FILE* file, std::int64_t itemLength, ContainerInfo* info,
                  std::string* why) {
    if (info) *info = {};
    // The "TIM" form's 9 bytes first, the rest of the longer form only when
    // it is not that, so the stream stops at the payload's first byte.
    std::array<std::uint8_t, bu2FormHeader> head{};
    std::size_t held = readUpTo(file, head.data(), std::min<std::int64_t>(itemLength, timFormHeader));
    if (held < 3 || std::memcmp(head.data(), "TIM", 3) != 0)
        held += readUpTo(file, head.data() + held,
                         std::min<std::int64_t>(itemLength, bu2FormHeader) - static_cast<std::int64_t>(held));
    ContainerHeader header;
    if (!readContainerHeader(std::span(head.data(), held), header, why)) return 0;
    if (info) *info = {header.form, header.mode};
    return decodeLzss(picture, file, itemLength - static_cast<std::int64_t>(header.size), header.mode, why);
}

}  // namespace quolb
