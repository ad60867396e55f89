// GIFs of 16-, 24- and 32-bit pictures, judged by giflib: few colours come
// out exactly, many come out close, and the transparent pixels are exactly
// the transparent colour's (or an alpha channel's clear ones).
// Rows below name only the option fields they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "gif/quantizer.h"
#include "gif/writer.h"
#include "tests/support/picture_checks.h"

namespace quolb {
namespace {

using Rgb3 = std::array<std::uint8_t, 3>;

// A true-colour picture and what each pixel shows, top row first.
struct Sample { Picture picture; std::vector<Rgb3> shown; std::vector<std::uint8_t> alpha; };

// `colourOf(x, y)` gives 8-bit red, green, blue (16 bits keep the top 5).
template <typename ColourOf>
Sample makeSample(int width, int height, std::uint16_t bits, ColourOf colourOf) {
    Sample s;
    EXPECT_EQ(allocateDib(s.picture, width, height, bits, 0, nullptr), 1);
    const auto stride = static_cast<std::size_t>(s.picture.imageSize / height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::array<std::uint8_t, 4> c = colourOf(x, y);  // red, green, blue, alpha
            std::uint8_t* at = s.picture.dib.data() + dibHeaderSize + static_cast<std::size_t>(height - 1 - y) * stride +
                               static_cast<std::size_t>(x) * bits / 8;
            if (bits == 16) {
                const unsigned v = unsigned{c[0]} >> 3 << 10 | unsigned{c[1]} >> 3 << 5 | unsigned{c[2]} >> 3;
                at[0] = static_cast<std::uint8_t>(v), at[1] = static_cast<std::uint8_t>(v >> 8);
                c = {widen5(c[0] >> 3u), widen5(c[1] >> 3u), widen5(c[2] >> 3u), 255};
            } else {
                at[0] = c[2], at[1] = c[1], at[2] = c[0];
                if (bits == 32) at[3] = c[3];
            }
            s.shown.push_back({c[0], c[1], c[2]});
            s.alpha.push_back(c[3]);
        }
    return s;
}

struct Written { test::DecodedGif gif; std::vector<Rgb3> colours; };  // colours: per pixel, from the table

Written writeAndDecode(const Picture& picture, int transparentGif, TransparentColour colour, const GifOptions& options = {}) {
    Written w{test::writeAndDecode(picture, transparentGif, colour, options), {}};
    for (const std::uint8_t index : w.gif.pixels) w.colours.push_back(w.gif.colours.at(index));
    return w;
}

double psnr(const std::vector<Rgb3>& a, const std::vector<Rgb3>& b, int width, int blur) {
    const int height = static_cast<int>(a.size()) / width;
    const auto mean = [&](const std::vector<Rgb3>& p, int x, int y, int k) {
        double sum = 0;
        int n = 0;
        for (int dy = -blur; dy <= blur; ++dy)
            for (int dx = -blur; dx <= blur; ++dx) {
                const int u = std::clamp(x + dx, 0, width - 1), v = std::clamp(y + dy, 0, height - 1);
                sum += p[static_cast<std::size_t>(v * width + u)][static_cast<std::size_t>(k)];
                ++n;
            }
        return sum / n;
    };
    double error = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < 3; ++k) error += std::pow(mean(a, x, y, k) - mean(b, x, y, k), 2);
    error /= 3.0 * static_cast<double>(a.size());
    return error == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / error);
}

// Every pixel keeps its colour; exactly the key's pixels are transparent,
// at an entry holding the key that no other pixel uses. The converter asks
// first whether any pixel shows the key.
TEST(TrueColourGif, FewColoursComeOutExactlyWithTheKeyTheirOnlyTransparentPixels) {
    struct Case { std::uint16_t bits; unsigned colours; bool key; bool keyInPicture; };
    const Case cases[] = {
        {24, 1, false, false}, {24, 256, false, false}, {24, 117, true, true}, {24, 255, true, false},
        {32, 256, true, true}, {32, 200, false, false}, {16, 256, false, false}, {16, 60, true, true},
        {24, 300, false, false},  // too many: then at least close
    };
    std::mt19937 random(10);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.colours) + " colours");
        std::vector<std::array<std::uint8_t, 4>> palette;
        for (unsigned i = 0; i < c.colours; ++i)  // all different, also at 5 bits
            palette.push_back({static_cast<std::uint8_t>((i % 8) * 32 + 8 * (i / 128)), static_cast<std::uint8_t>((i / 8 % 16) * 16),
                               static_cast<std::uint8_t>(random() & 0xF8), 0x80});
        const Sample s = makeSample(41, 23, c.bits, [&](int, int) { return palette[random() % c.colours]; });
        const Rgb3 key = c.keyInPicture ? s.shown[5] : Rgb3{1, 2, 3};
        EXPECT_EQ(pictureHasColour(s.picture, {key[0], key[1], key[2]}), c.keyInPicture ? 1 : 0);
        const Written w = writeAndDecode(s.picture, c.key ? 1 : 0, {key[0], key[1], key[2]});
        EXPECT_EQ(w.gif.transparent, c.key);
        if (c.colours > 256) {
            EXPECT_GT(psnr(s.shown, w.colours, 41, 0), 30.0);
            continue;
        }
        for (std::size_t i = 0; i < s.shown.size(); ++i) {
            const bool clear = c.key && s.shown[i] == key;
            ASSERT_EQ(c.key && w.gif.pixels[i] == w.gif.transparentIndex, clear) << "pixel " << i;
            ASSERT_EQ(w.colours[i], s.shown[i]) << "pixel " << i;
        }
        if (c.key) {
            EXPECT_EQ(w.gif.colours.at(static_cast<std::size_t>(w.gif.transparentIndex)), key);
        }
    }
}

// Smooth pictures of many colours: close without diffusion, closer to the
// eye (3x3 blur) with it; the fixed table keeps DefaultPalette. A key still
// takes exactly its own pixels, and diffusion never reaches past them. The
// picture is big enough to be mapped in two bands, and a compressed save
// that maps it twice gets the same indices.
TEST(TrueColourGif, ManyColoursComeOutCloseAndTheKeyStaysExact) {
    constexpr int width = 512, height = 512;
    const auto smooth = [](int x, int y) {
        const double r = std::hypot(x - 200, y - 150);
        return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(x * 255 / (width - 1)),
                                           static_cast<std::uint8_t>(y * 255 / (height - 1)),
                                           static_cast<std::uint8_t>(128 + 127 * std::sin(r / 30)), 255};
    };
    const Sample s = makeSample(width, height, 24, smooth);
    struct Case { GifOptions options; double floor, blurredFloor; };
    const Case cases[] = {
        {{.dither = false}, 29, 0},
        {{}, 25, 35},
        // DefaultPalette's blue stops at 192.
        {{.palette = GifPalette::fixed, .dither = false}, 21, 0},
        {{.palette = GifPalette::fixed}, 20, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.options.palette == GifPalette::fixed ? "fixed" : "adaptive") + (c.options.dither ? ", dithered" : ""));
        const Written w = writeAndDecode(s.picture, 0, {}, c.options);
        EXPECT_GT(psnr(s.shown, w.colours, width, 0), c.floor);
        if (c.options.dither) {
            EXPECT_GT(psnr(s.shown, w.colours, width, 1), c.blurredFloor);
        }
        GifOptions compressed = c.options;
        compressed.lzw = true;
        EXPECT_EQ(writeAndDecode(s.picture, 0, {}, compressed).colours, w.colours);
        for (std::size_t i = 0; i < 256 && c.options.palette == GifPalette::fixed; ++i)
            ASSERT_EQ(w.gif.colours[i], (Rgb3{DefaultPalette[i].red, DefaultPalette[i].green, DefaultPalette[i].blue}));

        // A band of one colour made transparent.
        const Rgb3 key = s.shown[200];
        const Written k = writeAndDecode(s.picture, 1, {key[0], key[1], key[2]}, c.options);
        EXPECT_EQ(k.gif.colours.at(static_cast<std::size_t>(k.gif.transparentIndex)), key);
        for (std::size_t i = 0; i < s.shown.size(); ++i) {
            ASSERT_EQ(k.gif.pixels[i] == k.gif.transparentIndex, s.shown[i] == key) << "pixel " << i;
        }
    }
}

// Alpha below half becomes transparent when asked, and only then; a key
// wins over the alpha channel.
TEST(TrueColourGif, AlphaBelowHalfBecomesTransparentWhenAsked) {
    for (const unsigned colours : {40u, 5000u}) {
        SCOPED_TRACE(std::to_string(colours) + " colours");
        Sample s = makeSample(50, 30, 32, [&](int x, int y) {
            const unsigned v = static_cast<unsigned>(y * 50 + x) % colours;
            return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8 << 5),
                                               static_cast<std::uint8_t>(x * 5), static_cast<std::uint8_t>(x * 5 + y)};
        });
        s.picture.alphaChannel = 1;
        const Written asked = writeAndDecode(s.picture, 0, {}, {.alphaTransparency = true});
        ASSERT_TRUE(asked.gif.transparent);
        for (std::size_t i = 0; i < s.alpha.size(); ++i)
            ASSERT_EQ(asked.gif.pixels[i] == asked.gif.transparentIndex, s.alpha[i] < 128) << "pixel " << i;
        EXPECT_FALSE(writeAndDecode(s.picture, 0, {}).gif.transparent);
        const Written keyed = writeAndDecode(s.picture, 1, {s.shown[0][0], s.shown[0][1], s.shown[0][2]}, {.alphaTransparency = true});
        for (std::size_t i = 0; i < s.alpha.size(); ++i)
            ASSERT_EQ(keyed.gif.pixels[i] == keyed.gif.transparentIndex, s.shown[i] == s.shown[0]) << "pixel " << i;
    }
}

}  // namespace
}  // namespace quolb
