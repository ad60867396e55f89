#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quolb::fuzz::loadInput(data, size, quolb::FileType::container);
    return 0;
}
