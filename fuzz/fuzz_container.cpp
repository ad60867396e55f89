#include <span>

#include "image/container.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fromFile = quolb::fuzz::loadInput(data, size, quolb::FileType::container);
    // Reading the file in pieces must decode exactly what the bytes in memory decode to.
    quolb::fuzz::Loaded inMemory;
    const int recognised = quolb::loadContainer(inMemory.picture, std::span(data, size), nullptr, &inMemory.why);
    if (fromFile.picture.dib != inMemory.picture.dib || fromFile.picture.palette != inMemory.picture.palette) std::abort();
    if (inMemory.picture.dib.empty() && recognised == 1 && inMemory.why != fromFile.why) std::abort();
    return 0;
}
