// Writes the seed corpora for the fuzz targets from the tests' builders:
// make_seeds <corpus folder>; one sub-folder per target.
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/lzss_writer.h"
#include "support/tim_builder.h"

using namespace quolb::test;

static void save(const std::filesystem::path& folder, const std::string& name,
                 const std::vector<std::uint8_t>& bytes) {
    std::filesystem::create_directories(folder);
    if (std::FILE* file = std::fopen((folder / name).string().c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

// A bottom-up bitmap of 5 x 3 pixels with `bits` per pixel and a full colour table when it has one.
static std::vector<std::uint8_t> bitmap(unsigned bits) {
    const unsigned colours = bits <= 8 ? 1u << bits : 0;
    const unsigned stride = (bits * 5 + 31) / 32 * 4;
    const unsigned offset = 14 + 40 + 4 * colours;
    std::vector<std::uint8_t> out = {'B', 'M'};
    for (std::uint32_t field : {offset + 3 * stride, 0u, offset, 40u, 5u, 3u, 1u | bits << 16, 0u, 0u, 0u, 0u, 0u, 0u})
        putLe(out, field, 4);
    for (unsigned i = 0; i < colours; ++i) putLe(out, i * 0x010203, 4);
    for (unsigned i = 0; i < 3 * stride; ++i) out.push_back(static_cast<std::uint8_t>(i * 13));
    return out;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    for (unsigned bits : {1u, 4u, 8u, 24u})
        save(corpus / "fuzz_bitmap", "bits" + std::to_string(bits) + ".bmp", bitmap(bits));

    auto wideClut = patternTim(4, 1, 2);
    wideClut.clut.resize(256, 0x7FFF);
    auto shortClut = patternTim(8, 2, 1);
    shortClut.clutLength = 12;
    const auto eight = timFile(patternTim(8, 3, 2));
    const auto four = timFile(patternTim(4, 2, 3));
    save(corpus / "fuzz_tim", "eight.tim", eight);
    save(corpus / "fuzz_tim", "four.tim", four);
    save(corpus / "fuzz_tim", "wide-clut.tim", timFile(wideClut));
    save(corpus / "fuzz_tim", "short-clut.tim", timFile(shortClut));
    for (std::uint8_t mode = 0; mode < 4; ++mode) {
        save(corpus / "fuzz_container", "tim-form-" + std::to_string(mode), timFormContainer(eight, mode));
        save(corpus / "fuzz_container", "bu2-form-" + std::to_string(mode),
             bu2FormContainer(four, mode, mode % 2 ? 'L' : 'M'));
    }
    const auto timItem = timFormContainer(eight, 2);
    const auto bu2Item = bu2FormContainer(four, 1, 'L');
    save(corpus / "fuzz_archive", "two-items", concat({bytesOf("\x01\x02"), timItem, bu2Item}));
    save(corpus / "fuzz_archive", "single", bu2Item);
    save(corpus / "fuzz_archive", "markers", bytesOf("LLZSSTTIMLZSTIMxTIxLZS"));
    return 0;
}
