// GIF's LZW compression of colour indices, streamed row by row into a
// GifSink as data sub-blocks (a length byte and up to 255 bytes each).
//
// Codes are variable width: the minimum code size m (2 to 8) gives the
// clear code 2^m and the end code 2^m + 1; codes start m + 1 bits wide and
// grow one bit each time the decoder's table reaches the next power of two,
// up to 12 bits and 4096 entries. The stream opens with a clear code. A
// table that has hardly been used when its codes widen is cleared then (as
// noise's always is). Once the table is full it is kept while it still
// compresses well, and cleared when the output per pixel grows.
//
// Where a wide table (128 or 256 indices) stays hardly used table after table
// (noise), the indices are sent as they are, each its own code, with a
// clear code before the decoder's table would widen them, for a stretch that
// doubles while the picture stays like that: no string is searched for.
// Then a clear code, and compression is tried again.
//
// A whole image of 2^18 pixels or more is compressed in two halves of its
// rows, each with its own table, the lower on a second thread; the upper
// half's stream ends with its last code and a clear code, and the lower
// half's codes follow from the next bit. Where the halves meet depends only
// on the image's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "gif/packer.h"

namespace quolb {

struct LzwEncoder {
    int minimumCodeSize = 8;
    int nextCode = 0;           // the code the next new string gets
    int codeWidth = 0;          // bits of the next code sent
    int prefix = -1;            // code of the string matched so far; -1 before the first index
    std::uint64_t bits = 0;     // pending bits, oldest in bit 0
    unsigned bitCount = 0;      // below 8 between codes
    std::size_t packedLength = 0;
    std::unique_ptr<std::uint8_t[]> packed;   // whole bytes not yet cut into sub-blocks
    std::unique_ptr<std::uint32_t[]> hashed;  // string table for wide alphabets
    std::unique_ptr<std::uint32_t[]> hashPlaces;  // by code: its slot in `hashed`
    std::unique_ptr<std::uint16_t[]> direct;  // string table for narrow ones: child by (code, index)
    std::unique_ptr<std::uint16_t[]> runs;    // the codes of runs of one index
    // When the string matched so far is a run of one index that reached the
    // end of the last call: its length (0 otherwise) and its index.
    std::uint32_t runLength = 0;
    std::uint32_t runIndex = 0;
    std::uint64_t consumed = 0;     // indices fed before the present call
    std::uint64_t restartAt = 0;    // the index at which the table was last cleared
    // Once the table is full, output per index (bits, 16 fraction bits) of the
    // filling and of the best window since, and the present window.
    std::uint64_t fillRatio = 0;
    std::uint64_t bestRatio = 0;
    std::uint64_t windowAt = 0;
    std::uint64_t windowCodes = 0;
    // Indices still to send as they are; the next such stretch; tables in a
    // row found hardly used.
    std::uint64_t literalLeft = 0;
    std::uint64_t literalSpan = 0;
    unsigned hardlyUsedRun = 0;
    bool unframed = false;  // bytes go to the sink as they are, to be framed when joined
};

// Starts an image whose indices are all below 2^minimumCodeSize (2 to 8).
// Allocates the tables on first use; throws std::bad_alloc when it cannot.
void lzwBegin(LzwEncoder& encoder, int minimumCodeSize);
// Compresses the next indices of the image (any split: rows, parts of rows).
void lzwFeed(LzwEncoder& encoder, GifSink& sink, std::span<const std::uint8_t> indices);
// Sends the last code, the end code and the last partial sub-block. The
// block terminator is the caller's.
void lzwFinish(LzwEncoder& encoder, GifSink& sink);

// Row `row` of an image (0 is the top): its indices, either the picture's
// own or converted into `scratch`, which is as long as a row and belongs to
// the calling thread.
using LzwRows = std::function<std::span<const std::uint8_t>(std::size_t row, std::span<std::uint8_t> scratch)>;

// Compresses a whole image of `height` rows of `width` indices into a sink
// without a file, through to lzwFinish. Rows are asked for from both halves
// at once unless `inOrder`, which keeps to one thread and asks top to bottom.
// False as soon as the sink holds `limit` bytes or more: the caller then
// has no use for it. Throws std::bad_alloc when memory runs short.
bool lzwCompress(GifSink& sink, int minimumCodeSize, std::size_t width, std::size_t height, const LzwRows& rows,
                 bool inOrder, std::size_t limit);

}  // namespace quolb
