// Writes the archive the converter's --all is timed on: 1,000 items, 8-bit
// pictures of 320 x 240 and 4-bit ones of 640 x 240 in turn, every mode in
// both header forms, so one run exercises all of the decoder's paths.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/support/lzss_writer.h"
#include "tests/support/tim_builder.h"

int main(int argc, char** argv) {
    // The item count is for quick checks that the road still works.
    const unsigned items = argc == 3 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1000;
    if (argc < 2 || argc > 3 || items == 0) {
        std::fprintf(stderr, "usage: make_archive OUTPUT [ITEMS]   (default 1000 items)\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    for (unsigned item = 0; item < items; ++item) {
        const bool eightBit = item % 2 == 0;
        const auto tim = quolb::test::timFile(quolb::test::patternTim(eightBit ? 8 : 4, 160, 240, item));
        const auto mode = static_cast<std::uint8_t>(item / 2 % 4);
        const auto container = item % 4 < 2 ? quolb::test::timFormContainer(tim, mode)
                                             : quolb::test::bu2FormContainer(tim, mode, item % 8 < 4 ? 'M' : 'L');
        std::fwrite(container.data(), 1, container.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
