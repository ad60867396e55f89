// Decodes a GIF with giflib, an independent reader, so tests can check what
// the writer produced against what a real decoder sees.
#pragma once

#include <gif_lib.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <tuple>
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
inline bool decodeGifFile(const std::string& path, DecodedGif& out, std::string* why) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif && (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1))
        error = gif->Error != 0 ? gif->Error : D_GIF_ERR_NO_IMAG_DSCR;
    if (gif && error == 0) {
        for (int i = 0; gif->SColorMap && i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& colour = gif->SColorMap->Colors[i];
            out.colours.push_back({colour.Red, colour.Green, colour.Blue});
        }
        const SavedImage& image = gif->SavedImages[0];
        std::tie(out.imageWidth, out.imageHeight) = std::tuple(image.ImageDesc.Width, image.ImageDesc.Height);
        out.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(out.imageWidth) *
                                                                   static_cast<std::size_t>(out.imageHeight));
        // The extension's own bytes: giflib's summary of it hides the index
        // when the flag is off, and the tests check both.
        for (const ExtensionBlock& block : std::span(image.ExtensionBlocks, std::size_t(image.ExtensionBlockCount)))
            if (block.Function == GRAPHICS_EXT_FUNC_CODE && block.ByteCount >= 4)
                std::tie(out.transparent, out.transparentIndex) = std::tuple((block.Bytes[0] & 1) != 0, block.Bytes[3]);
    }
    if (gif) DGifCloseFile(gif, nullptr);
    const char* reason = GifErrorString(error);
    if (error != 0 && why) *why = path + ": " + (reason ? reason : "unknown giflib error");
    return error == 0;
}

}  // namespace quolb::test
