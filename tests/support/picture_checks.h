// Checks a loaded Picture against the TIM it came from, as read by a decoder
// written here from the format: through writeGif and giflib, an independent
// GIF decoder, where giflib is there; elsewhere (the Windows build) its size
// only, since the native build checks every pixel.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <utility>
#include <vector>

#include "tests/support/load_file.h"
#include "tests/support/temp_file.h"
#include "tests/support/tim_builder.h"
#include "gif/writer.h"
#ifdef QUOLB_HAVE_GIFLIB
#include "tests/support/gif_decode.h"
#endif

namespace quolb::test {

#ifdef QUOLB_HAVE_GIFLIB
// Writes `picture` as a GIF with writeGif's arguments and decodes it with giflib.
inline DecodedGif writeAndDecode(const Picture& picture, int transparentGif = 0, TransparentColour colour = {},
                                 const GifOptions& options = {}) {
    const TempFile file(".gif");
    DecodedGif gif;
    std::string why;
    EXPECT_EQ(writeGif(picture, file.path().c_str(), transparentGif, colour, &why, options), 1) << why;
    EXPECT_TRUE(decodeGifFile(file.path(), gif, &why)) << why;
    return gif;
}
#endif

// A TIM file read straight from the format, sharing nothing with the loader:
// every pixel's colour, top row first, and whether it was stored as 0x0000.
using Rgb = std::array<std::uint8_t, 3>;
struct TimPixels { int mode = 0; std::size_t width = 0, height = 0; std::vector<Rgb> colours; std::vector<bool> zero; };  // mode 0 to 3: 4 to 24 bits

inline TimPixels decodeTimIndependently(const std::vector<std::uint8_t>& file) {
    auto u16 = [&](std::size_t at) { return unsigned(file.at(at) | file.at(at + 1) << 8); };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    auto rgb15 = [](unsigned v) {
        return Rgb{std::uint8_t((v & 31) * 255 / 31), std::uint8_t((v >> 5 & 31) * 255 / 31), std::uint8_t((v >> 10 & 31) * 255 / 31)};
    };
    TimPixels out;
    const unsigned flags = u32(4);
    out.mode = int(flags & 3);
    // The image block follows the CLUT block, or the colours the depth reads where they reach further.
    const std::size_t image = flags & 8 ? 8 + std::max<std::size_t>(u32(8), out.mode < 2 ? 4 + 2 * (16u << 4 * out.mode) : 0) : 8;
    const std::size_t rowBytes = 2 * std::size_t{u16(image + 8)};
    out.height = u16(image + 10);
    const std::size_t bits[] = {4, 8, 16, 24};
    out.width = rowBytes * 8 / bits[out.mode];
    const std::size_t pixels = image + 12;
    for (std::size_t y = 0; y < out.height; ++y) {
        const std::size_t row = pixels + y * rowBytes;
        for (std::size_t x = 0; x < out.width; ++x) {
            // Indexed pixels without a CLUT read as a grey ramp; 0xFFFF: no 15-bit colour.
            const bool indexed = out.mode < 2, clut = indexed && flags & 8;
            const unsigned index = out.mode == 1 ? unsigned{file.at(row + x)} : unsigned{file.at(row + x / 2)} >> (x % 2 * 4) & 15u;
            const auto grey = std::uint8_t(out.mode == 1 ? index : index * 17);
            const unsigned value = out.mode == 2 ? u16(row + 2 * x) : clut ? u16(8 + 12 + 2 * index) : 0xFFFF;
            out.zero.push_back(value == 0);
            out.colours.push_back(out.mode == 3 ? Rgb{file.at(row + 3 * x), file.at(row + 3 * x + 1), file.at(row + 3 * x + 2)}
                                  : indexed && !clut ? Rgb{grey, grey, grey} : rgb15(value));
        }
    }
    return out;
}

inline void expectPictureMatches(const Picture& picture, const TimPicture& tim) {
    const TimPixels expected = decodeTimIndependently(timFile(tim));
    ASSERT_EQ(picture.width, static_cast<int>(expected.width));
    ASSERT_EQ(picture.height, static_cast<int>(expected.height));
#ifdef QUOLB_HAVE_GIFLIB
    const DecodedGif gif = writeAndDecode(picture);
    ASSERT_EQ(gif.pixels.size(), expected.colours.size());
    for (std::size_t i = 0; i < gif.pixels.size(); ++i)
        ASSERT_EQ(gif.colours.at(gif.pixels[i]), expected.colours[i]) << "GIF pixel " << i;
#endif
}

#ifdef QUOLB_HAVE_GIFLIB
// Loads the TIM file at `path`, marking the pixels stored as 0x0000 when
// `zeroTransparent` asks, and checks its GIF against the independent reading:
// exactly those pixels transparent, and while the picture has at most 256
// colours every other pixel in its own colour.
inline void expectTimGifMatches(const std::string& path, bool zeroTransparent) {
    const TimPixels expected = decodeTimIndependently(readBytes(path));
    const std::set<Rgb> distinct(expected.colours.begin(), expected.colours.end());
    Picture picture = pictureAt(path, FileType::tim);
    picture.markZeroPixels = zeroTransparent;
    std::string why;
    ASSERT_EQ(loadPicture(picture, &why), 1) << why;
    GifOptions options;
    options.zeroTransparent = zeroTransparent;
    const DecodedGif gif = writeAndDecode(picture, 0, {}, options);
    ASSERT_EQ(std::pair(std::size_t(gif.imageWidth), std::size_t(gif.imageHeight)), std::pair(expected.width, expected.height));
    std::size_t wrongColour = 0, wrongTransparency = 0;
    for (std::size_t i = 0; i < expected.colours.size(); ++i) {
        const bool transparent = gif.transparent && gif.pixels[i] == gif.transparentIndex;
        wrongTransparency += transparent != (zeroTransparent && expected.zero[i]);
        wrongColour += !transparent && distinct.size() <= 256 && gif.colours.at(gif.pixels[i]) != expected.colours[i];
    }
    EXPECT_EQ(wrongTransparency, 0u) << "zeroTransparent " << zeroTransparent;
    EXPECT_EQ(wrongColour, 0u) << "zeroTransparent " << zeroTransparent << ", " << distinct.size() << " colours";
}
#endif

// Loads `bytes` as a file of `type`; a failure must say why.
inline Loaded loadBytes(std::span<const std::uint8_t> bytes, FileType type) {
    const TempFile file("load", bytes);
    Loaded out;
    if (!loadFile(out, file.path(), type)) {
        EXPECT_NE(out.why, "") << "a failed load without a reason";
    }
    return out;
}

// Loads `bytes` as a file of `type` and checks the picture against `tim`.
inline void expectLoadsAs(std::span<const std::uint8_t> bytes, FileType type, const TimPicture& tim) {
    const Loaded loaded = loadBytes(bytes, type);
    ASSERT_EQ(loaded.why, "");
    expectPictureMatches(loaded.picture, tim);
}

}  // namespace quolb::test
