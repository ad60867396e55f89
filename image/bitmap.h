// Windows bitmap files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "image/picture.h"

namespace quolb {

// Loads a bitmap file from the stream. Returns 1 when a picture was loaded,
// else 0 with the reason in `why`.
int loadBitmap(Picture& picture, std::FILE* file, std::int64_t fileLength, std::string* why);

// A bitmap whose rows are stored plainly (no compression) with 8 bits or
// fewer per pixel, read a band of rows at a time, so that converting it
// never holds the whole picture.
struct BitmapBands {
    Picture head;  // the DIB a load would make, but for its pixel rows
    std::FILE* file = nullptr;
    std::int64_t pixelOffset = 0;
    std::int64_t stride = 0;  // of a row in the file
    int bitCount = 0;         // of a pixel in the file: 1, 2, 4 or 8
    bool topDown = false;     // the file's first row is the top one
};

// Reads the headers of the bitmap in `file` into `bands`, checked as
// loadBitmap checks them and within picture.maxPixels. Returns 1 when it is
// such a bitmap; else 0 with the reason in `why` (load it whole instead).
int openBitmapBands(const Picture& picture, std::FILE* file, std::int64_t fileLength, BitmapBands& bands,
                    std::string* why);

// Calls `use` with each row's indices, top row first, until it returns
// false. Returns 1 when the rows could be read, else 0 with the reason.
int readBitmapRows(const BitmapBands& bands, const std::function<bool(std::span<const std::uint8_t>)>& use,
                   std::string* why);

}  // namespace quolb
