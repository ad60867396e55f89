// Writes a loaded Picture as a GIF89a file: one image, a 256-entry global
// colour table, a graphic control extension and uncompressed image data.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/picture.h"

namespace quolb {

struct TransparentColour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

// How a GIF is to be made beyond the picture and its transparent colour. The
// defaults write what a plain Save has always written.
struct GifOptions {
};

// Writes the picture to `path`. Returns 1 when the whole file was written and
// closed, 0 otherwise with the reason in `why`. A failed save leaves whatever
// file stood at `path` as it was.
int writeGif(const Picture& picture, const char* path, int transparentGif,
             TransparentColour transparentColour, std::string* why = nullptr,
             const GifOptions& options = {});

// Whether the GIF made of `picture` would show `colour` in any pixel: a
// pixel whose table entry holds it (1, 4 and 8 bits), or a pixel of exactly
// that colour that the table can name (16 to 32 bits). A transparent colour
// no pixel has would otherwise mark table entry 0.
int pictureHasColour(const Picture& picture, TransparentColour colour);

// Writes the same GIF into an open binary stream (standard output), which it
// leaves open. Returns 1 when every write succeeded.
int writeGifToStream(const Picture& picture, std::FILE* file, int transparentGif,
                     TransparentColour transparentColour, std::string* why = nullptr,
                     const GifOptions& options = {});

}  // namespace quolb
