// Checks a loaded Picture against the TIM it came from: through writeGif and
// giflib, an independent decoder, where giflib is there; elsewhere (the
// Windows build) its size only, since the native build checks every pixel.
#pragma once

#include <gtest/gtest.h>

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

inline void expectPictureMatches(const Picture& picture, const TimPicture& tim) {
    const auto width = std::size_t{tim.rowUnits} * (tim.depth == 8 ? 2 : 4);
    ASSERT_EQ(picture.width, static_cast<int>(width));
    ASSERT_EQ(picture.height, tim.rows);
#ifdef QUOLB_HAVE_GIFLIB
    const DecodedGif gif = writeAndDecode(picture);
    ASSERT_EQ(gif.pixels.size(), width * tim.rows);
    const auto widen = [](unsigned v) { return static_cast<std::uint8_t>((v & 31) * 255 / 31); };
    for (std::size_t i = 0; i < gif.pixels.size(); ++i) {
        // The left pixel of a 4-bit pair is the low nibble.
        const unsigned pair = tim.pixels[tim.depth == 8 ? i : i / 2];
        const unsigned colour = tim.clut[tim.depth == 8 ? pair : pair >> (i % 2 * 4) & 15];
        ASSERT_EQ(gif.colours.at(gif.pixels[i]), (std::array{widen(colour), widen(colour >> 5), widen(colour >> 10)}))
            << "GIF pixel " << i;
    }
#endif
}

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
