// Checks a loaded Picture against what its TIM data says, directly in the DIB
// and, where giflib is there, through writeGif and an independent decoder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "picture.h"
#include "tim_builder.h"
#include "writer.h"
#ifdef QUOLB_HAVE_GIFLIB
#include "gif_decode.h"
#endif

namespace quolb::test {

inline void expectDibMatches(const Picture& picture, const ExpectedPicture& e) {
    ASSERT_FALSE(picture.dib.empty());
    const int bits = e.colours.size() == 256 ? 8 : 4;
    ASSERT_EQ(picture.width, e.width);
    ASSERT_EQ(picture.height, e.height);
    ASSERT_EQ(picture.colorCount, static_cast<int>(e.colours.size()));
    const auto header = pictureHeader(picture);
    EXPECT_EQ(header.biBitCount, bits);
    EXPECT_EQ(header.biHeight, e.height);
    EXPECT_EQ(header.biClrUsed, 0u);
    const auto table = colorTable(picture);
    ASSERT_EQ(picture.palette.size(), e.colours.size());
    for (std::size_t i = 0; i < e.colours.size(); ++i) {
        EXPECT_EQ(table[4 * i + 2], e.colours[i][0]) << "colour " << i;
        EXPECT_EQ(table[4 * i + 1], e.colours[i][1]) << "colour " << i;
        EXPECT_EQ(table[4 * i + 0], e.colours[i][2]) << "colour " << i;
        EXPECT_EQ(picture.palette[i], (PaletteEntry{e.colours[i][0], e.colours[i][1], e.colours[i][2], 0}));
    }
    const auto rows = pixelRows(picture);
    const auto stride = static_cast<std::size_t>(dibStride(bits, e.width));
    ASSERT_EQ(rows.size(), stride * static_cast<std::size_t>(e.height));
    for (int y = 0; y < e.height; ++y) {
        const std::uint8_t* row = rows.data() + static_cast<std::size_t>(e.height - 1 - y) * stride;
        for (int x = 0; x < e.width; ++x) {
            const auto at = static_cast<std::size_t>(x);
            const unsigned index = bits == 8 ? row[at] : static_cast<unsigned>(row[at / 2] >> (at % 2 ? 0 : 4)) & 15u;
            ASSERT_EQ(index, e.indices[static_cast<std::size_t>(y * e.width + x)]) << "pixel " << x << "," << y;
        }
    }
}

// Writes the picture as a GIF and decodes it with giflib: every pixel must
// show the colour the TIM data gives it.
inline void expectGifMatches(const Picture& picture, const ExpectedPicture& e, const std::string& gifPath) {
#ifdef QUOLB_HAVE_GIFLIB
    std::string why;
    ASSERT_EQ(writeGif(picture, gifPath.c_str(), 0, {}, &why), 1) << why;
    DecodedGif gif;
    ASSERT_TRUE(decodeGifFile(gifPath, gif, &why)) << why;
    ASSERT_EQ(gif.imageWidth, e.width);
    ASSERT_EQ(gif.imageHeight, e.height);
    ASSERT_EQ(gif.pixels.size(), e.indices.size());
    for (std::size_t i = 0; i < e.indices.size(); ++i) {
        ASSERT_LT(gif.pixels[i], gif.colours.size());
        ASSERT_EQ(gif.colours[gif.pixels[i]], e.colours[e.indices[i]]) << "pixel " << i;
    }
#else
    (void)picture, (void)e, (void)gifPath;
#endif
}

inline void expectPictureMatches(const Picture& picture, const ExpectedPicture& e, const std::string& gifPath) {
    expectDibMatches(picture, e);
    if (!::testing::Test::HasFatalFailure()) expectGifMatches(picture, e, gifPath);
}

// Loads `bytes` as a file of the given type through loadPicture.
inline int loadBytes(Picture& picture, const TempFile& file, FileType type, std::string* why) {
    picture.path = file.path;
    picture.fileType = type;
    releasePicture(picture);
    return loadPicture(picture, why);
}

}  // namespace quolb::test
