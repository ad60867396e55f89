#include "gif_decode.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include <gif_lib.h>

namespace quolb::test {
namespace {

struct MemorySource {
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int wanted) {
    auto* source = static_cast<MemorySource*>(gif->UserData);
    const std::size_t left = source->bytes.size() - source->position;
    const std::size_t count = std::min(left, static_cast<std::size_t>(std::max(wanted, 0)));
    std::memcpy(out, source->bytes.data() + source->position, count);
    source->position += count;
    return static_cast<int>(count);
}

bool failWith(std::string* why, int error) {
    if (why) {
        const char* text = GifErrorString(error);
        *why = text ? text : "unknown giflib error";
    }
    return false;
}

}  // namespace

bool decodeGif(std::span<const std::uint8_t> bytes, DecodedGif& out, std::string* why) {
    out = {};
    MemorySource source{bytes};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, readFromMemory, &error);
    if (!gif) return failWith(why, error);

    bool ok = DGifSlurp(gif) == GIF_OK;
    if (!ok) error = gif->Error;
    if (ok && gif->ImageCount < 1) {
        ok = false;
        error = D_GIF_ERR_NO_IMAG_DSCR;
    }
    if (ok) {
        out.screenWidth = gif->SWidth;
        out.screenHeight = gif->SHeight;
        if (gif->SColorMap) {
            for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
                const GifColorType& c = gif->SColorMap->Colors[i];
                out.colours.push_back({c.Red, c.Green, c.Blue});
            }
        }
        const SavedImage& image = gif->SavedImages[0];
        out.imageWidth = image.ImageDesc.Width;
        out.imageHeight = image.ImageDesc.Height;
        const auto count = static_cast<std::size_t>(out.imageWidth) * static_cast<std::size_t>(out.imageHeight);
        out.pixels.assign(image.RasterBits, image.RasterBits + count);
        // Read the extension's bytes ourselves: giflib's own summary hides the
        // index when the flag is off, and the tests check both.
        for (int i = 0; i < image.ExtensionBlockCount; ++i) {
            const ExtensionBlock& block = image.ExtensionBlocks[i];
            if (block.Function == GRAPHICS_EXT_FUNC_CODE && block.ByteCount >= 4) {
                out.hasControlExtension = true;
                out.transparent = (block.Bytes[0] & 1) != 0;
                out.transparentIndex = block.Bytes[3];
            }
        }
    }
    int closeError = 0;
    DGifCloseFile(gif, &closeError);
    return ok ? true : failWith(why, error);
}

bool decodeGifFile(const std::string& path, DecodedGif& out, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (why) *why = "cannot open " + path;
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return decodeGif(bytes, out, why);
}

}  // namespace quolb::test
