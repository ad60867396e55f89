// Writes a loaded Picture as a GIF89a file: one image, a 256-entry global
// colour table, a graphic control extension and uncompressed image data, or
// on request compressed image data and a table cut to the indices used.
#pragma once

#include <cstdint>
#include <string>

#include "image/bitmap.h"
#include "image/picture.h"

namespace quolb {

struct TransparentColour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

enum class GifPalette {
    adaptive,  // a table made for the picture's colours (exact when it has at most 256)
    fixed,     // DefaultPalette, the same table for every picture
};

// How a GIF is to be made beyond the picture and its transparent colour.
// Pictures of 1, 4 and 8 bits always keep their own table and indices.
struct GifOptions {
    GifPalette palette = GifPalette::adaptive;
    bool dither = true;  // error diffusion when the table cannot hold every colour
    // A 32-bit picture with an alpha channel: pixels below half opacity
    // become transparent, unless a transparent colour is given.
    bool alphaTransparency = false;
    // Compressed image data and the smallest colour table that holds the
    // picture's indices; the uncompressed file whenever that is not smaller.
    bool lzw = false;
};

// Writes the picture to `path`. With `transparentGif`, the pixels of exactly
// `transparentColour` (as shown: 16-bit channels widened by widen5) and no
// others become transparent. Returns 1 when the whole file was written and
// closed, 0 otherwise with the reason in `why`. A failed save leaves whatever
// file stood at `path` as it was.
int writeGif(const Picture& picture, const char* path, int transparentGif,
             TransparentColour transparentColour, std::string* why = nullptr,
             const GifOptions& options = {});

// Writes the bitmap's GIF to `path` a band of rows at a time: the same file
// writeGif makes of the loaded picture with default options. Returns 1, or 0
// with the reason in `why`.
int writeGif(BitmapBands& bands, const char* path, int transparentGif, TransparentColour transparentColour,
             std::string* why = nullptr);

}  // namespace quolb
