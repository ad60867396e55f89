// Decodes a GIF with giflib, an independent reader, so tests can check what
// the writer produced against what a real decoder sees.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quolb::test {

struct DecodedGif {
    int screenWidth = 0;
    int screenHeight = 0;
    int imageWidth = 0;                                  // of the first image
    int imageHeight = 0;
    std::vector<std::array<std::uint8_t, 3>> colours;    // global table: red, green, blue
    bool hasControlExtension = false;                    // a graphic control extension before the image
    bool transparent = false;                            // its transparent colour flag
    int transparentIndex = -1;                           // its index byte, whatever the flag
    std::vector<std::uint8_t> pixels;                    // imageWidth x imageHeight indices, top row first
};

// Decodes the first image of a GIF held in memory. Returns false with giflib's
// reason in `why` when the data is not a GIF giflib can read whole.
bool decodeGif(std::span<const std::uint8_t> bytes, DecodedGif& out, std::string* why = nullptr);

// The same for a file on disk.
bool decodeGifFile(const std::string& path, DecodedGif& out, std::string* why = nullptr);

}  // namespace quolb::test
