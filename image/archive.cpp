// Archives, as this program reads them.
//
// An archive is any run of bytes holding compressed containers one after
// another, with no directory. An item begins wherever a marker stands, the
// four bytes "LZSS" (the start of the "LZSS-bu2" form) or the three bytes
// "TIM", and runs to the next marker or to the end of the file; bytes before
// the first marker are skipped. Markers count anywhere, also inside an
// item's compressed payload (they split it there), but never when they
// would run past the end of the file. The search for the next marker starts
// right after the current one.
//
// A byte-at-a-time scan that steps back to the byte after a failed "L" or
// "T" finds exactly the first place where either marker stands whole, so the
// scan here looks for that first place with a wide search, reading the file
// in large pieces that overlap by three bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUOLB_SCAN_SSE2 1
#endif

#include "image/archive.h"
#include "image/container.h"
#include "image/file_io.h"

namespace quolb {
namespace {

constexpr std::size_t scanChunk = std::size_t{1} << 20;
constexpr std::size_t lookAhead = 3;
constexpr std::size_t notFound = static_cast<std::size_t>(-1);

// The marker that stands whole at data[at], if any: its length, else 0.
inline int markerAt(const std::uint8_t* data, std::size_t at, std::size_t available) {
    if (data[at] == 'L') return at + 4 <= available && std::memcmp(data + at + 1, "ZSS", 3) == 0 ? 4 : 0;
    if (data[at] == 'T') return at + 3 <= available && data[at + 1] == 'I' && data[at + 2] == 'M' ? 3 : 0;
    return 0;
}

// The first position in [from, limit) where a marker stands whole within
// data[0, available), or notFound.
std::size_t searchMarkers(const std::uint8_t* data, std::size_t from, std::size_t limit, std::size_t available) {
    std::size_t i = from;
#ifdef QUOLB_SCAN_SSE2
    // Sixty-four positions at a time: a candidate is "LZ" or "TI" starting
    // there, which random data shows about once in 32 KiB, so the exact
    // check below runs rarely. Every candidate and its look-ahead lies
    // inside `available` while i + 80 <= available.
    const __m128i letterL = _mm_set1_epi8('L');
    const __m128i letterZ = _mm_set1_epi8('Z');
    const __m128i letterT = _mm_set1_epi8('T');
    const __m128i letterI = _mm_set1_epi8('I');
    const auto candidates = [&](const std::uint8_t* p) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        return _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(here, letterL), _mm_cmpeq_epi8(next, letterZ)),
                            _mm_and_si128(_mm_cmpeq_epi8(here, letterT), _mm_cmpeq_epi8(next, letterI)));
    };
    while (i + 64 <= limit && i + 80 <= available) {
        const __m128i a = candidates(data + i);
        const __m128i b = candidates(data + i + 16);
        const __m128i c = candidates(data + i + 32);
        const __m128i d = candidates(data + i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) {
            const __m128i blocks[4] = {a, b, c, d};
            for (std::size_t block = 0; block < 4; ++block) {
                auto mask = static_cast<unsigned>(_mm_movemask_epi8(blocks[block]));
                while (mask != 0) {
                    const std::size_t at = i + 16 * block + static_cast<std::size_t>(__builtin_ctz(mask));
                    if (markerAt(data, at, available) != 0) return at;
                    mask &= mask - 1;
                }
            }
        }
        i += 64;
    }
#endif
    for (; i < limit; ++i)
        if (markerAt(data, i, available) != 0) return i;
    return notFound;
}

// Reads the archive forward in overlapping pieces; a marker is only decided
// where its whole look-ahead is in the buffer or the file ends.
struct MarkerScanner {
    std::FILE* file = nullptr;
    std::int64_t end = 0;                  // the file's length, lowered if it reads short
    std::vector<std::uint8_t> buffer;      // a piece and the look-ahead carried over
    std::int64_t base = 0;                 // file offset of buffer[0]
    std::size_t held = 0;                  // bytes in the buffer
    std::int64_t filePosition = -1;        // where the stream stands, -1 unknown
};

MarkerScanner makeScanner(std::FILE* file, std::int64_t fileLength) {
    MarkerScanner s;
    s.file = file;
    s.end = fileLength;
    s.buffer.resize(
        static_cast<std::size_t>(std::clamp<std::int64_t>(fileLength, 0, static_cast<std::int64_t>(scanChunk))) +
        lookAhead);
    return s;
}

// Makes the buffer start at `from` and fills it; false when nothing is left.
bool refill(MarkerScanner& s, std::int64_t from) {
    if (from >= s.base && from < s.base + static_cast<std::int64_t>(s.held) &&
        s.filePosition == s.base + static_cast<std::int64_t>(s.held)) {
        const auto skip = static_cast<std::size_t>(from - s.base);
        std::memmove(s.buffer.data(), s.buffer.data() + skip, s.held - skip);
        s.held -= skip;
    } else {
        if (!seekTo(s.file, from)) return false;
        s.held = 0;
        s.filePosition = from;
    }
    s.base = from;
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(s.buffer.size() - s.held), s.end - s.filePosition));
    const std::size_t got = want ? std::fread(s.buffer.data() + s.held, 1, want, s.file) : 0;
    s.held += got;
    s.filePosition += static_cast<std::int64_t>(got);
    if (got < want) s.end = s.filePosition;
    return s.held > 0;
}

// The first marker at or after `from`: its offset and length, or -1.
std::int64_t findMarker(MarkerScanner& s, std::int64_t from, int& length) {
    std::int64_t at = std::max<std::int64_t>(from, 0);
    while (at < s.end) {
        const std::int64_t bufferEnd = s.base + static_cast<std::int64_t>(s.held);
        const bool atEnd = bufferEnd >= s.end;
        const std::int64_t decided = atEnd ? bufferEnd : bufferEnd - static_cast<std::int64_t>(lookAhead);
        if (at < s.base || at >= decided) {
            if (!refill(s, at)) return -1;
            continue;
        }
        const std::size_t found = searchMarkers(s.buffer.data(), static_cast<std::size_t>(at - s.base),
                                                static_cast<std::size_t>(decided - s.base), s.held);
        if (found != notFound) {
            length = markerAt(s.buffer.data(), found, s.held);
            return s.base + static_cast<std::int64_t>(found);
        }
        at = decided;
    }
    return -1;
}

}  // namespace

std::vector<ArchiveItem> listArchiveItems(std::FILE* file, std::int64_t fileLength) {
    std::vector<ArchiveItem> items;
    MarkerScanner scanner = makeScanner(file, fileLength);
    int length = 0;
    for (std::int64_t at = findMarker(scanner, 0, length); at >= 0;) {
        const std::int64_t next = findMarker(scanner, at + length, length);
        items.push_back({at, (next >= 0 ? next : fileLength) - at});
        at = next;
    }
    return items;
}

int loadArchiveEntry(Picture& picture, std::FILE* file, const ArchiveItem& item, ContainerInfo* info,
                     std::string* why) {
    if (info) *info = {};
    if (!seekTo(file, item.offset)) return fail(why, "cannot read the file");
    return loadContainer(picture, file, item.length, info, why);
}

int loadArchiveItem(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why) {
    MarkerScanner scanner = makeScanner(file, fileLength);
    int length = 0;
    const std::int64_t at = findMarker(scanner, picture.archiveOffset, length);
    if (at < 0) {
        const bool fromStart = picture.archiveOffset <= 0;
        picture.archiveOffset = 0;
        return fail(why, fromStart ? "archive holds no \"LZSS\" or \"TIM\" marker"
                                   : "archive holds no further \"LZSS\" or \"TIM\" marker");
    }
    const std::int64_t next = findMarker(scanner, at + length, length);
    // The offset moves on before decoding, whatever the item holds; an offset
    // the record cannot hold starts the archive over.
    picture.archiveOffset = next >= 0 && next <= INT32_MAX ? static_cast<std::int32_t>(next) : 0;
    return loadArchiveEntry(picture, file, {at, (next >= 0 ? next : fileLength) - at}, nullptr, why);
}

}  // namespace quolb
