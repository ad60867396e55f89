// Round-trips pictures through the LZW encoder and giflib's decoder, which
// must give back every index. The input picks the minimum code size, the
// size (up to 300 x 300, enough to fill and clear tables) and a program of
// (index, run) pairs that is repeated to the picture's end, so short inputs
// make long repeated strings; a flag turns some rows into noise. Each row is
// fed in two pieces, cut where the input says. The same encoder first
// writes the picture with 8-bit codes. Then the program goes on down to one
// to four times the height (the input's top bits say), and that picture goes
// through the whole-image compression, which takes images of 2^18 pixels or
// more in two halves.
#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gif/lzw.h"

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size, at;
};

int readMemory(GifFileType* gif, GifByteType* to, int length) {
    auto* r = static_cast<Reader*>(gif->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(length), r->size - r->at);
    std::memcpy(to, r->data + r->at, n);
    r->at += n;
    return static_cast<int>(n);
}

// Encodes the picture as a GIF with the given minimum code size, either
// each row fed in two pieces cut where the program says or, without an
// encoder, as a whole image, and requires giflib to decode it to the same
// indices.
void roundTrip(quolb::LzwEncoder* encoder, int codeSize, std::size_t width, std::size_t height,
               const std::vector<std::uint8_t>& pixels, const std::uint8_t* program, std::size_t programSize) {
    const unsigned colours = 1u << codeSize;
    quolb::GifSink sink;
    const std::uint8_t head[] = {'G', 'I', 'F', '8', '9', 'a', std::uint8_t(width), std::uint8_t(width >> 8),
                                 std::uint8_t(height), std::uint8_t(height >> 8),
                                 std::uint8_t(0xF0 | (codeSize - 1)), 0, 0};
    quolb::sinkWrite(sink, head, sizeof head);
    const std::vector<std::uint8_t> table(3 * colours, 0x80);
    quolb::sinkWrite(sink, table.data(), table.size());
    const std::uint8_t image[] = {0x2C, 0, 0, 0, 0, std::uint8_t(width), std::uint8_t(width >> 8), std::uint8_t(height),
                                  std::uint8_t(height >> 8), 0, std::uint8_t(codeSize)};
    quolb::sinkWrite(sink, image, sizeof image);
    if (encoder) {
        quolb::lzwBegin(*encoder, codeSize);
        for (std::size_t y = 0; y < height; ++y) {
            const std::size_t cut = program[y % programSize] % (width + 1);
            const std::uint8_t* row = pixels.data() + y * width;
            quolb::lzwFeed(*encoder, sink, std::span(row, cut));
            quolb::lzwFeed(*encoder, sink, std::span(row + cut, width - cut));
        }
        quolb::lzwFinish(*encoder, sink);
    } else {
        const auto row = [&](std::size_t y, std::span<std::uint8_t>) {
            return std::span<const std::uint8_t>(pixels.data() + y * width, width);
        };
        if (!quolb::lzwCompress(sink, codeSize, width, height, row, false, SIZE_MAX)) std::abort();
    }
    const std::uint8_t tail[] = {0, 0x3B};
    quolb::sinkWrite(sink, tail, sizeof tail);

    Reader reader{sink.buffer.get(), sink.used, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, readMemory, &error);
    if (!gif) std::abort();
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount != 1 ||
        !std::equal(pixels.begin(), pixels.end(), gif->SavedImages[0].RasterBits))
        std::abort();
    DGifCloseFile(gif, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const int codeSize = 2 + data[0] % 7;
    const bool someNoise = (data[0] & 0x80) != 0;
    const std::size_t width = 1 + (std::size_t{data[1]} | std::size_t{data[2]} << 8) % 300;
    const std::size_t height = 1 + (std::size_t{data[3]} | std::size_t{data[4]} << 8) % 300;
    const std::size_t repeats = 1 + (data[0] >> 6);
    const std::uint8_t* program = data + 5;
    const std::size_t programSize = size - 5;
    const unsigned colours = 1u << codeSize;

    std::vector<std::uint8_t> pixels(width * height * repeats);
    std::uint32_t noise = 2463534242u;
    for (std::size_t p = 0, step = 0; p < pixels.size(); step += 2) {
        const std::uint8_t index = static_cast<std::uint8_t>(program[step % programSize] % colours);
        const std::size_t run = 1 + program[(step + 1) % programSize] % 64;
        for (std::size_t k = 0; k < run && p < pixels.size(); ++k, ++p) {
            noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
            const bool noisyRow = someNoise && (p / width) % 3 == 1;
            pixels[p] = noisyRow ? static_cast<std::uint8_t>(noise % colours) : index;
        }
    }

    // One encoder for two images, first with the widest codes: an encoder
    // must start each image clean whatever the one before left in it.
    quolb::LzwEncoder encoder;
    const std::vector<std::uint8_t> picture(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(width * height));
    roundTrip(&encoder, 8, width, height, picture, program, programSize);
    roundTrip(&encoder, codeSize, width, height, picture, program, programSize);
    roundTrip(nullptr, codeSize, width, height * repeats, pixels, program, programSize);
    return 0;
}
