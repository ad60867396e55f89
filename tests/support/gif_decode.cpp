#include "gif_decode.h"

#include <gif_lib.h>

namespace quolb::test {

bool decodeGifFile(const std::string& path, DecodedGif& out, std::string* why) {
    out = {};
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif && DGifSlurp(gif) != GIF_OK) error = gif->Error;
    if (gif && error == 0 && gif->ImageCount < 1) error = D_GIF_ERR_NO_IMAG_DSCR;
    if (gif && error == 0) {
        for (int i = 0; gif->SColorMap && i < gif->SColorMap->ColorCount; ++i) {
            const GifColorType& c = gif->SColorMap->Colors[i];
            out.colours.push_back({c.Red, c.Green, c.Blue});
        }
        const SavedImage& image = gif->SavedImages[0];
        out.imageWidth = image.ImageDesc.Width;
        out.imageHeight = image.ImageDesc.Height;
        out.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(out.imageWidth) * static_cast<std::size_t>(out.imageHeight));
        // The extension's own bytes: giflib's summary of it hides the index
        // when the flag is off, and the tests check both.
        for (int i = 0; i < image.ExtensionBlockCount; ++i) {
            const ExtensionBlock& block = image.ExtensionBlocks[i];
            if (block.Function == GRAPHICS_EXT_FUNC_CODE && block.ByteCount >= 4) {
                out.transparent = (block.Bytes[0] & 1) != 0;
                out.transparentIndex = block.Bytes[3];
            }
        }
    }
    if (gif) DGifCloseFile(gif, nullptr);
    const char* text = GifErrorString(error);
    if (error != 0 && why) *why = path + ": " + (text ? text : "unknown giflib error");
    return error == 0;
}

}  // namespace quolb::test
