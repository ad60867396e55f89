#include <span>

#include "container.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quolb::Picture fromFile;
    std::string fileWhy;
    quolb::fuzz::loadAs(fromFile, quolb::fuzz::writeInput(data, size), quolb::FileType::container, fileWhy);

    // Reading the file in pieces must decode exactly what the bytes in
    // memory decode to.
    quolb::Picture inMemory;
    std::string memoryWhy;
    const int recognised = quolb::loadContainer(inMemory, std::span(data, size), nullptr, &memoryWhy);
    if (fromFile.dib != inMemory.dib || fromFile.palette != inMemory.palette) std::abort();
    if (fromFile.dib.empty() && recognised == 1 && memoryWhy != fileWhy) std::abort();
    return 0;
}
