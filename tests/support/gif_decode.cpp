#include "gif_decode.h"

#include <gif_lib.h>

#include <tuple>

namespace quolb::test {

bool decodeGifFile(const std::string& path, DecodedGif& out, std::string* why) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif && (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1)) error = gif->Error != 0 ? gif->Error : D_GIF_ERR_NO_IMAG_DSCR;
    if (gif && error == 0) {
        for (int i = 0; gif->SColorMap && i < gif->SColorMap->ColorCount; ++i)
            out.colours.push_back({gif->SColorMap->Colors[i].Red, gif->SColorMap->Colors[i].Green, gif->SColorMap->Colors[i].Blue});
        const SavedImage& image = gif->SavedImages[0];
        std::tie(out.imageWidth, out.imageHeight) = std::tuple(image.ImageDesc.Width, image.ImageDesc.Height);
        out.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(out.imageWidth) * static_cast<std::size_t>(out.imageHeight));
        // The extension's own bytes: giflib's summary of it hides the index
        // when the flag is off, and the tests check both.
        for (const ExtensionBlock* block = image.ExtensionBlocks; block < image.ExtensionBlocks + image.ExtensionBlockCount; ++block)
            if (block->Function == GRAPHICS_EXT_FUNC_CODE && block->ByteCount >= 4)
                std::tie(out.transparent, out.transparentIndex) = std::tuple((block->Bytes[0] & 1) != 0, block->Bytes[3]);
    }
    if (gif) DGifCloseFile(gif, nullptr);
    if (error != 0 && why) *why = path + ": " + (GifErrorString(error) ? GifErrorString(error) : "unknown giflib error");
    return error == 0;
}

}  // namespace quolb::test
