// Checks a loaded Picture against the TIM it came from: directly in the DIB
// and, where giflib is there, through writeGif and that independent decoder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "picture.h"
#include "temp_file.h"
#include "tim_builder.h"
#include "writer.h"
#ifdef QUOLB_HAVE_GIFLIB
#include "gif_decode.h"
#endif

namespace quolb::test {

inline void expectPictureMatches(const Picture& picture, const TimSpec& spec,
                                 [[maybe_unused]] const std::string& gifPath = "") {
    const int bits = spec.depth;
    const auto width = static_cast<std::size_t>((bits == 8 ? 2 : 4) * spec.rowUnits);
    // Pixel i from the top left; the left pixel of a 4-bit pair is the low nibble.
    const auto index = [&](std::size_t i) -> unsigned {
        return bits == 8 ? unsigned{spec.pixels[i]} : static_cast<unsigned>(spec.pixels[i / 2] >> (i % 2 * 4)) & 15u;
    };
    const auto colour = [&](unsigned i) {
        const auto widen = [](unsigned v) { return static_cast<std::uint8_t>((v & 31) * 255 / 31); };
        return PaletteEntry{widen(spec.clut[i]), widen(spec.clut[i] >> 5u), widen(spec.clut[i] >> 10u), 0};
    };
    ASSERT_EQ(picture.width, static_cast<int>(width));
    ASSERT_EQ(picture.height, spec.rows);
    ASSERT_EQ(picture.colorCount, 1 << bits);
    for (unsigned i = 0; i < 1u << bits; ++i) EXPECT_EQ(picture.palette.at(i), colour(i)) << "colour " << i;
    // DIB rows run bottom-up, the left pixel of a 4-bit pair in the high nibble.
    const auto stride = static_cast<std::size_t>(dibStride(bits, picture.width));
    const auto pixelBits = static_cast<std::size_t>(bits);
    for (std::size_t y = 0; y < spec.rows; ++y)
        for (std::size_t x = 0; x < width; ++x) {
            const unsigned byte = pixelRows(picture)[(spec.rows - 1 - y) * stride + x * pixelBits / 8];
            ASSERT_EQ(bits == 8 ? byte : byte >> (x % 2 ? 0 : 4) & 15, index(y * width + x)) << x << "," << y;
        }
#ifdef QUOLB_HAVE_GIFLIB
    if (gifPath.empty()) return;
    std::string why;
    ASSERT_EQ(writeGif(picture, gifPath.c_str(), 0, {}, &why), 1) << why;
    DecodedGif gif;
    ASSERT_TRUE(decodeGifFile(gifPath, gif, &why)) << why;
    ASSERT_EQ(gif.pixels.size(), width * spec.rows);
    for (std::size_t i = 0; i < gif.pixels.size(); ++i) {
        const auto want = colour(index(i));
        ASSERT_EQ(gif.colours.at(gif.pixels[i]), (std::array{want.red, want.green, want.blue}))
            << "GIF pixel " << i;
    }
#endif
}

// Loads a file of `type` through loadPicture, as the tool opens it.
inline int loadFile(Picture& picture, const TempFile& file, FileType type, std::string* why) {
    releasePicture(picture);
    picture.path = file.path();
    picture.fileType = type;
    return loadPicture(picture, why);
}

}  // namespace quolb::test
