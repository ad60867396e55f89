// Writes the seed corpora for the fuzz targets from the tests' builders:
// make_seeds <corpus folder>; one sub-folder per target.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/lzss_writer.h"
#include "support/tim_builder.h"

namespace {

using namespace quolb::test;
namespace fs = std::filesystem;

void save(const fs::path& folder, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(folder);
    std::FILE* file = std::fopen((folder / name).string().c_str(), "wb");
    if (!file) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// A bottom-up bitmap with `bits` per pixel and a full colour table when it has one.
std::vector<std::uint8_t> bitmap(int bits, int width, int height) {
    const int colours = bits <= 8 ? 1 << bits : 0;
    const int stride = (bits * width + 31) / 32 * 4;
    std::vector<std::uint8_t> out = {'B', 'M'};
    const auto offset = static_cast<std::uint32_t>(14 + 40 + 4 * colours);
    putU32(out, offset + static_cast<std::uint32_t>(stride * height));
    putU32(out, 0);
    putU32(out, offset);
    putU32(out, 40);
    putU32(out, static_cast<std::uint32_t>(width));
    putU32(out, static_cast<std::uint32_t>(height));
    putU16(out, 1);
    putU16(out, static_cast<unsigned>(bits));
    for (int i = 0; i < 6; ++i) putU32(out, 0);
    for (int i = 0; i < colours; ++i) putU32(out, static_cast<std::uint32_t>(i * 0x010203));
    for (int i = 0; i < stride * height; ++i) out.push_back(static_cast<std::uint8_t>(i * 13));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path corpus = argv[1];

    for (int bits : {1, 4, 8, 24}) save(corpus / "fuzz_bitmap", "bits" + std::to_string(bits) + ".bmp", bitmap(bits, 5, 3));

    const auto eight = patternTim(8, 3, 2);
    const auto four = patternTim(4, 2, 3);
    auto wideClut = patternTim(4, 1, 2);
    for (int i = 16; i < 256; ++i) wideClut.clut.push_back(0x7FFF);
    auto shortClut = patternTim(8, 2, 1);
    shortClut.clutLength = 12;
    save(corpus / "fuzz_tim", "eight.tim", timFile(eight));
    save(corpus / "fuzz_tim", "four.tim", timFile(four));
    save(corpus / "fuzz_tim", "wide-clut.tim", timFile(wideClut));
    save(corpus / "fuzz_tim", "short-clut.tim", timFile(shortClut));

    const auto eightFile = timFile(eight);
    const auto fourFile = timFile(four);
    for (std::uint8_t mode = 0; mode < 4; ++mode) {
        const std::string m = std::to_string(mode);
        save(corpus / "fuzz_container", "tim-form-" + m, timFormContainer(eightFile, mode, mode == 1 ? 3 : mode));
        save(corpus / "fuzz_container", "bu2-form-" + m, bu2FormContainer(fourFile, mode, mode % 2 ? 'L' : 'M'));
    }

    const std::vector<std::uint8_t> junk = {0x01, 0x02};
    const auto timItem = timFormContainer(eightFile, 2, 2);
    const auto bu2Item = bu2FormContainer(fourFile, 1, 'L');
    save(corpus / "fuzz_archive", "two-items", concat({junk, timItem, bu2Item}));
    save(corpus / "fuzz_archive", "single", bu2Item);
    save(corpus / "fuzz_archive", "markers", bytesOf("LLZSSTTIMLZSTIMxTIxLZS"));
    return 0;
}
