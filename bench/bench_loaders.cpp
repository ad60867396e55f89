// Loader speed: the archive's marker scan over a large file in the page
// cache, and a compressed container loaded from the page cache.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/archive.h"
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

// The whole road of one container file through loadPicture: header,
// decoding in mode 2 and the 8-bit TIM conversion, from the page cache.
void BM_LoadContainer(benchmark::State& state) {
    const auto tim = pictureTim();
    const auto item = quolb::test::bu2FormContainer(tim, 2, 'M');
    const auto path = (std::filesystem::temp_directory_path() / "quolb-bench.lzb").string();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(item.data(), 1, item.size(), out);
    std::fclose(out);
    quolb::Picture picture;
    picture.path = path;
    picture.fileType = quolb::FileType::container;
    for (auto _ : state) {
        if (!quolb::loadPicture(picture)) state.SkipWithError("the container did not load");
        benchmark::DoNotOptimize(picture.dib.data());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(tim.size() - 1));
    state.counters["ratio"] = static_cast<double>(item.size()) / static_cast<double>(tim.size());
}
BENCHMARK(BM_LoadContainer);

}  // namespace
