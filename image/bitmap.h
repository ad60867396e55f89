// Windows bitmap files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/file_io.h"
#include "image/picture.h"

namespace quolb {

// Loads a bitmap file from the stream. Returns 1 when a picture was loaded,
// else 0 with the reason in `why`.
int loadBitmap(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);

// A bitmap file whose rows are stored plainly with 8 bits or fewer, read a
// band of rows at a time, so converting it never holds the whole picture.
struct BitmapBands {
    Picture head;  // the DIB's header and colour table, and no pixel rows
    FilePtr file;
    std::int64_t pixelOffset = 0;
    std::int64_t stride = 0;
    bool topDown = false;  // the file's first row is the top one
};

// Opens request.path as such a bitmap, within request.maxPixels. Returns 1
// when it is one; else 0 with the reason in `why` (then load it whole).
int openBitmapBands(const Picture& request, BitmapBands& bands, std::string* why);
// Reads `rows` rows, in the file's order from its row `firstRow`, into `out`
// (stride bytes each). Returns 1, or 0 with the reason in `why`.
int readBitmapBand(BitmapBands& bands, std::int64_t firstRow, std::int64_t rows, std::uint8_t* out,
                   std::string* why);

}  // namespace quolb
