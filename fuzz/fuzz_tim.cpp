#include <span>

#include "fuzz_support.h"
#include "tim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quolb::Picture picture;
    std::string why;
    quolb::fuzz::loadAs(picture, quolb::fuzz::writeInput(data, size), quolb::FileType::tim, why);

    // The conversions straight on the bytes, as a container hands them over.
    quolb::Picture direct;
    std::string directWhy;
    const int result = size % 2 ? quolb::decodeTim4(direct, std::span(data, size), &directWhy)
                                : quolb::decodeTim8(direct, std::span(data, size), &directWhy);
    quolb::fuzz::checkOutcome(direct, result, directWhy);
    return 0;
}
