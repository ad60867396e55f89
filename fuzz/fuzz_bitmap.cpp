#include <fstream>
#include <iterator>
#include <vector>

#include "image/bitmap.h"
#include "image/file_io.h"
#include "fuzz/fuzz_support.h"

namespace {

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// The bitmap loaded whole, and read a band of rows at a time as the converter
// reads the plain ones: the bands may only take what the loader takes, and
// must make the same GIF of it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const quolb::fuzz::Loaded loaded = quolb::fuzz::loadInput(data, size, quolb::FileType::bitmap);
    const std::string& path = loaded.picture.path;
    const quolb::FilePtr file = quolb::openFile(path.c_str(), "rb");
    if (!file) return 0;
    quolb::Picture limits;
    limits.maxPixels = loaded.picture.maxPixels;
    quolb::BitmapBands bands;
    if (!quolb::openBitmapBands(limits, file.get(), quolb::measureFile(file.get()), bands, nullptr)) return 0;
    if (loaded.picture.dib.empty()) std::abort();
    quolb::StreamedPicture streamed;
    streamed.head = &bands.head;
    streamed.rows = [&](const auto& use, std::string* why) { return quolb::readBitmapRows(bands, use, why); };
    const std::string banded = path + ".banded.gif";
    if (!quolb::writeGif(streamed, banded.c_str(), 0, {}) || fileBytes(banded) != fileBytes(path + ".gif")) std::abort();
    return 0;
}
