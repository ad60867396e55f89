// The compressed container: its two header forms and the LZSS payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "image/archive.h"
#include "image/picture.h"

namespace quolb {

// The decoder's output area: one picture's TIM data must fit in it.
inline constexpr std::size_t lzssOutputSize = 300000;

// One payload's decoding state, so a payload can be fed in pieces.
struct LzssDecoder {
    int mode = 0;                  // 0 to 3
    std::uint8_t* output = nullptr;
    std::size_t capacity = 0;      // bytes the decoder may write; `output` must hold
                                   // lzssSlack more for its wide copies
    std::size_t written = 0;       // k, the bytes decoded so far
    unsigned flags = 0;            // the current flag byte, next bit in bit 7
    int flagBits = 0;              // bits of `flags` not yet used
    const char* error = nullptr;   // set when decoding stopped on bad data
};

// Room past `capacity` that the decoder may scribble on while copying.
inline constexpr std::size_t lzssSlack = 32;

// Decodes from `input` as far as it goes. Returns the bytes used: all of
// them, except that a back-reference whose second byte has not arrived yet
// is left unused unless `last` says no more bytes follow (then it is
// dropped). Stops early, with `error` set, on a payload that would overflow
// the output or a back-reference to bytes that are not there.
std::size_t feedLzss(LzssDecoder& decoder, std::span<const std::uint8_t> input, bool last);

// Decodes a whole payload in `mode` into `output` (capacity + lzssSlack
// bytes). Returns the bytes decoded, or -1 with the reason in `why`.
std::int64_t expandLzss(std::span<const std::uint8_t> payload, int mode, std::span<std::uint8_t> output,
                        std::size_t capacity, std::string* why);

// Decodes one payload and hands the TIM data in it to the 8-bit or 4-bit
// conversion. Returns 1 when a picture was loaded.
int decodeLzss(Picture& picture, std::span<const std::uint8_t> payload, int mode, std::string* why);

// Reads one container held in memory. Returns 1 when a header form was
// recognised (whether or not a picture came out of it; the picture's dib
// tells, and `why` says what went wrong), 0 when it was not.
int loadContainer(Picture& picture, std::span<const std::uint8_t> item, ContainerInfo* info, std::string* why);

// The same for `itemLength` bytes of a stream from its current position,
// read in bounded pieces.
int loadContainer(Picture& picture, std::FILE* file, std::int64_t itemLength, ContainerInfo* info,
                  std::string* why);

}  // namespace quolb
