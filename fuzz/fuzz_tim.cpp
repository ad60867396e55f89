#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quolb::Picture picture;
    std::string why;
    quolb::fuzz::loadAs(picture, quolb::fuzz::writeInput(data, size), quolb::FileType::tim, why);
    return 0;
}
