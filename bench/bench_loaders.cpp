// Loader speed: the archive's marker scan over a large file in the page
// cache, and LZSS decoding of picture data into the flat output area.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/archive.h"
#include "image/container.h"
#include "image/file_io.h"
#include "tests/support/lzss_writer.h"
#include "tests/support/tim_builder.h"

namespace {

constexpr std::int64_t archiveSize = std::int64_t{256} << 20;

// 256 MiB of random bytes, written once per run and read once so the scans
// below find it in the page cache.
const std::string& randomArchive() {
    static const std::string path = [] {
        const auto file = (std::filesystem::temp_directory_path() / "quolb-bench-random.xpb").string();
        std::error_code ignored;
        if (std::filesystem::file_size(file, ignored) != static_cast<std::uintmax_t>(archiveSize)) {
            std::mt19937_64 random(42);
            std::vector<std::uint64_t> block(1 << 17);
            std::FILE* out = std::fopen(file.c_str(), "wb");
            for (std::int64_t written = 0; written < archiveSize; written += 1 << 20) {
                for (auto& word : block) word = random();
                std::fwrite(block.data(), 8, block.size(), out);
            }
            std::fclose(out);
        }
        const quolb::FilePtr in = quolb::openFile(file.c_str(), "rb");
        std::vector<char> sink(1 << 20);
        while (std::fread(sink.data(), 1, sink.size(), in.get()) == sink.size()) {
        }
        return file;
    }();
    return path;
}

void BM_ScanRandomArchive(benchmark::State& state) {
    const std::string& path = randomArchive();
    std::size_t items = 0;
    for (auto _ : state) {
        const quolb::FilePtr file = quolb::openFile(path.c_str(), "rb");
        const auto list = quolb::listArchiveItems(file.get(), quolb::measureFile(file.get()));
        items = list.size();
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(state.iterations() * archiveSize);
    state.counters["items"] = static_cast<double>(items);
}
BENCHMARK(BM_ScanRandomArchive)->Unit(benchmark::kMillisecond)->UseRealTime();

// An 8-bit TIM picture of 320 x 240 that compresses the way pictures do:
// smooth runs, repeated rows with small changes, and some noise.
std::vector<std::uint8_t> pictureTim() {
    quolb::test::TimPicture tim = quolb::test::patternTim(8, 160, 240);
    std::mt19937 random(7);
    for (std::size_t y = 0; y < 240; ++y)
        for (std::size_t x = 0; x < 320; ++x) {
            auto& pixel = tim.pixels[y * 320 + x];
            pixel = static_cast<std::uint8_t>(x / 6 + y / 10);
            if ((x / 40 + y / 30) % 3 == 0) pixel = static_cast<std::uint8_t>(200 + (x * y) % 7);
            if (random() % 9 == 0) pixel = static_cast<std::uint8_t>(random());
        }
    return quolb::test::timFile(tim);
}

void BM_DecodeLzssMode2(benchmark::State& state) {
    const auto tim = pictureTim();
    const auto payload = quolb::test::compressLzss(std::span(tim).subspan(1), 2);
    std::vector<std::uint8_t> area(quolb::lzssOutputSize + quolb::lzssSlack);
    std::int64_t decoded = 0;
    for (auto _ : state) {
        decoded = quolb::expandLzss(payload, 2, area, quolb::lzssOutputSize, nullptr);
        benchmark::DoNotOptimize(area.data());
    }
    if (decoded != static_cast<std::int64_t>(tim.size() - 1)) state.SkipWithError("decoded the wrong length");
    state.SetBytesProcessed(state.iterations() * decoded);
    state.counters["ratio"] = static_cast<double>(payload.size()) / static_cast<double>(decoded);
}
BENCHMARK(BM_DecodeLzssMode2);

// The whole road of one container: header, decoding and the TIM conversion.
void BM_LoadContainer(benchmark::State& state) {
    const auto item = quolb::test::bu2FormContainer(pictureTim(), 2, 'M');
    for (auto _ : state) {
        quolb::Picture picture;
        quolb::loadContainer(picture, item, nullptr, nullptr);
        benchmark::DoNotOptimize(picture.dib.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pictureTim().size()));
}
BENCHMARK(BM_LoadContainer);

}  // namespace
