// Checks a loaded Picture against the TIM it came from: through writeGif and
// giflib, an independent decoder, where giflib is there; elsewhere (the
// Windows build) its size and top left pixel.
#pragma once

#include <gtest/gtest.h>

#include "temp_file.h"
#include "tim_builder.h"
#include "writer.h"
#ifdef QUOLB_HAVE_GIFLIB
#include "gif_decode.h"
#endif

namespace quolb::test {

// Colour index of pixel i from the top left; the left pixel of a 4-bit pair is the low nibble.
inline unsigned timIndex(const TimPicture& tim, std::size_t i) {
    return tim.depth == 8 ? tim.pixels[i] : static_cast<unsigned>(tim.pixels[i / 2] >> (i % 2 * 4)) & 15u;
}

inline void expectPictureMatches(const Picture& picture, const TimPicture& tim) {
    const auto width = std::size_t{tim.rowUnits} * (tim.depth == 8 ? 2 : 4);
    ASSERT_EQ(picture.width, static_cast<int>(width));
    ASSERT_EQ(picture.height, tim.rows);
#ifdef QUOLB_HAVE_GIFLIB
    const TempFile gifFile("check.gif");
    std::string why;
    ASSERT_EQ(writeGif(picture, gifFile.path().c_str(), 0, {}, &why), 1) << why;
    DecodedGif gif;
    ASSERT_TRUE(decodeGifFile(gifFile.path(), gif, &why)) << why;
    ASSERT_EQ(gif.pixels.size(), width * tim.rows);
    const auto widen = [](unsigned v) { return static_cast<std::uint8_t>((v & 31) * 255 / 31); };
    for (std::size_t i = 0; i < gif.pixels.size(); ++i) {
        const unsigned colour = tim.clut[timIndex(tim, i)];
        ASSERT_EQ(gif.colours.at(gif.pixels[i]), (std::array{widen(colour), widen(colour >> 5), widen(colour >> 10)}))
            << "GIF pixel " << i;
    }
#else
    // DIB rows run bottom-up, the left pixel of a 4-bit pair in the high nibble.
    const auto rows = pixelRows(picture);
    const auto lastRow = static_cast<std::size_t>(dibStride(tim.depth, picture.width)) * (tim.rows - 1u);
    EXPECT_EQ(tim.depth == 8 ? rows[lastRow] : rows[lastRow] >> 4u, timIndex(tim, 0)) << "top left";
#endif
}

// Loads a file of `type` through loadPicture, as the tool opens it: "" when
// it loaded, else the reason.
inline std::string loadFile(Picture& picture, const std::string& path, FileType type) {
    releasePicture(picture);
    picture.path = path;
    picture.fileType = type;
    std::string why;
    return loadPicture(picture, &why) == 1 ? "" : why.empty() ? "failed without a reason" : why;
}

struct Loaded { Picture picture; std::string why; };

inline Loaded loadBytes(std::span<const std::uint8_t> bytes, FileType type) {
    const TempFile file("load", bytes);
    Loaded out;
    out.why = loadFile(out.picture, file.path(), type);
    return out;
}

}  // namespace quolb::test
