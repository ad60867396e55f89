// Decodes a GIF with giflib, an independent reader, so tests can check what
// the writer produced against what a real decoder sees.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quolb::test {

struct DecodedGif {
    int imageWidth = 0, imageHeight = 0;                 // of the first image
    std::vector<std::array<std::uint8_t, 3>> colours;    // global table: red, green, blue
    bool transparent = false;                            // the graphic control extension's transparent flag
    int transparentIndex = -1;                           // its index byte, whatever the flag; -1 without one
    std::vector<std::uint8_t> pixels;                    // imageWidth x imageHeight indices, top row first
};

// Decodes the first image of a GIF file. Returns false with giflib's reason
// in `why` when the file is not a GIF giflib can read whole.
bool decodeGifFile(const std::string& path, DecodedGif& out, std::string* why = nullptr);

}  // namespace quolb::test
