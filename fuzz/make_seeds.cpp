// Writes the seed corpora for the fuzz targets from the tests' builders:
// make_seeds <corpus folder>; one sub-folder per target.
#include <filesystem>
#include <fstream>

#include "tests/support/bmp_builder.h"
#include "tests/support/lzss_writer.h"
#include "tests/support/tim_builder.h"

using namespace quolb::test;

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const auto eight = timFile(patternTim(8, 3, 2));
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> seeds = {
        {"fuzz_tim/eight.tim", eight},
        {"fuzz_tim/four.tim", timFile(patternTim(4, 2, 3))},
        // 2 x 2 of 16-bit colours (one 0x0000, one 0x8000), after a CLUT to skip; 24 bits: 2 x 1
        {"fuzz_tim/sixteen.tim", timFileOfKind(0x0A, 2, 2, {0, 0, 0, 0x80, 0x1F, 0x7C, 0xFF, 0x7F}, std::vector<std::uint16_t>(16, 0x1234))},
        {"fuzz_tim/twenty-four.tim", timFileOfKind(0x03, 3, 1, {255, 0, 0, 10, 20, 30})},
        {"fuzz_tim/four-no-clut.tim", timFileOfKind(0x00, 1, 2, {0x21, 0x43, 0x65, 0x87})},
        {"fuzz_archive/two-items",
         concat({bytesOf("\x01\x02"), timFormContainer(eight, 2), bu2FormContainer(eight, 1, 'L')})}};
    for (std::uint8_t mode = 0; mode < 4; ++mode) {
        seeds.emplace_back("fuzz_container/tim-form-" + std::to_string(mode), timFormContainer(eight, mode));
        seeds.emplace_back("fuzz_container/bu2-form-" + std::to_string(mode), bu2FormContainer(eight, mode, "ML"[mode % 2]));
    }
    for (std::uint16_t bits = 1; bits <= 32; bits = static_cast<std::uint16_t>(bits * 2)) {  // 1 x 1 pixel
        const BmpBuilder bitmap{.bitCount = bits, .table = std::vector<std::uint8_t>(bits <= 8 ? 4u << bits : 0, 0x5A)};
        seeds.emplace_back("fuzz_bitmap/bits" + std::to_string(bits) + ".bmp", bitmap.bytes());
    }
    // The old headers: core (3-byte entries), OS/2 2.x and its short form.
    for (const std::uint32_t header : {12u, 16u, 64u}) {
        const BmpBuilder bitmap{.headerSize = header, .width = 3, .bitCount = 8,
                                .table = std::vector<std::uint8_t>((header == 12 ? 3u : 4u) << 8, 0x5A)};
        seeds.emplace_back("fuzz_bitmap/os2-header" + std::to_string(header) + ".bmp", bitmap.bytes());
    }
    for (const auto& [name, bytes] : seeds) {
        const auto path = std::filesystem::path(argv[1]) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(bytes.begin(), bytes.end());
    }
    return 0;
}
