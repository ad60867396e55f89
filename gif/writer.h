// Writes a loaded Picture as a GIF89a file: one image, a 256-entry global
// colour table, a graphic control extension and uncompressed image data, or
// on request compressed image data and a table cut to the indices used.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "image/picture.h"
#include "gif/packer.h"

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
    // Pixels the picture stored as colour 0x0000 (see Picture::zeroEntries
    // and zeroPixels) become the one transparent index, and no other pixel
    // does; the transparent colour passed along is then not used.
    bool zeroTransparent = false;
};

// Writes the picture to `path`. With `transparentGif`, the pixels of exactly
// `transparentColour` (as shown: 16-bit channels widened by widen5) and no
// others become transparent. Returns 1 when the whole file was written and
// closed, 0 otherwise with the reason in `why`. A failed save leaves whatever
// file stood at `path` as it was.
int writeGif(const Picture& picture, const char* path, int transparentGif,
             TransparentColour transparentColour, std::string* why = nullptr,
             const GifOptions& options = {});

// Whether the GIF made of `picture` would show `colour` in any pixel: a
// pixel whose table entry holds it (1, 4 and 8 bits), or a pixel of exactly
// that colour, as shown (16 to 32 bits). Marking a colour no pixel has would
// make an entry transparent that some pixels use.
int pictureHasColour(const Picture& picture, TransparentColour colour);

// Writes the same GIF into an open binary stream (standard output), which it
// leaves open. Returns 1 when every write succeeded.
int writeGifToStream(const Picture& picture, std::FILE* file, int transparentGif,
                     TransparentColour transparentColour, std::string* why = nullptr,
                     const GifOptions& options = {});

// A GIF made in memory: the first `size` bytes of `buffer`.
struct MadeGif {
    SinkBuffer buffer;
    std::size_t size = 0;
};

// The GIF writeGif would save, made in `out` instead: for a caller that
// saves it itself, such as a batch saving one picture while it makes the
// next. Returns 1, or 0 with the reason in `why`.
int makeGif(const Picture& picture, MadeGif& out, int transparentGif, TransparentColour transparentColour,
            std::string* why = nullptr, const GifOptions& options = {});

// Saves the bytes of a GIF made by makeGif to `path` as writeGif saves.
int saveGif(std::span<const std::uint8_t> gif, const char* path, std::string* why = nullptr);

// A picture of 8 bits or fewer per pixel that is not held whole: `head` is
// its DIB's header and colour table, without pixel rows, and `rows` calls
// `use` with each row's indices, top row first, until `use` returns false;
// it returns 1 when the rows could be had, else 0 with the reason in `why`.
struct StreamedPicture {
    const Picture* head = nullptr;
    std::function<int(const std::function<bool(std::span<const std::uint8_t>)>& use, std::string* why)> rows;
};

// The GIF writeGif makes of the loaded picture with the default options,
// made of the rows as they come. A failure to have the rows fails the save
// with their reason.
int writeGif(const StreamedPicture& picture, const char* path, int transparentGif,
             TransparentColour transparentColour, std::string* why = nullptr);
int writeGifToStream(const StreamedPicture& picture, std::FILE* file, int transparentGif,
                     TransparentColour transparentColour, std::string* why = nullptr);
int pictureHasColour(const StreamedPicture& picture, TransparentColour colour);

}  // namespace quolb
