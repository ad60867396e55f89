// GIF writer speed on a 4096 x 4096 8-bit picture, in bytes of pixels per
// second. The plain bit-at-a-time packer of the tests is timed for scale,
// and memcpy moving the same bytes as a ceiling: a picture this size is
// read from memory, not the cache, so no packer can beat the copy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "tests/support/reference_packer.h"
#include "gif/packer.h"
#include "gif/writer.h"

namespace {

using namespace quolb;

const Picture& bigPicture() {
    static const Picture picture = [] {
        Picture p;
        if (!allocateDib(p, 4096, 4096, 8, 256, nullptr)) std::abort();
        std::mt19937 random(7);
        for (auto it = p.dib.begin() + dibHeaderSize; it != p.dib.end(); ++it)
            *it = static_cast<std::uint8_t>(random());
        return p;
    }();
    return picture;
}

void writeTo(benchmark::State& state, const char* path) {
    const Picture& picture = bigPicture();
    std::string why;
    for (auto _ : state) {
        if (!writeGif(picture, path, 0, {}, &why)) {
            state.SkipWithError(why.c_str());
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{picture.width} * picture.height);
}

void BM_WriteGifToTmp(benchmark::State& state) {
    writeTo(state, "/tmp/quolb-bench.gif");
    std::remove("/tmp/quolb-bench.gif");
}
BENCHMARK(BM_WriteGifToTmp)->Unit(benchmark::kMillisecond)->UseRealTime();

// A memory-backed file system: the file path without the disk's writeback.
void BM_WriteGifToShm(benchmark::State& state) {
    writeTo(state, "/dev/shm/quolb-bench.gif");
    std::remove("/dev/shm/quolb-bench.gif");
}
BENCHMARK(BM_WriteGifToShm)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteGifToDevNull(benchmark::State& state) { writeTo(state, "/dev/null"); }
BENCHMARK(BM_WriteGifToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime();

// The packer alone, into memory: one image from reset to finish, the
// pixels sent by `send`.
template <typename Send>
void packPicture(benchmark::State& state, Send send) {
    const auto pixels = pixelRows(bigPicture());
    GifSink sink;
    sinkReserve(sink, pixels.size() * 9 / 8 + pixels.size() / 200 + (1u << 20));
    for (auto _ : state) {
        sink.used = 0;
        GifCodeStream stream;
        reset(stream);
        stream.clearCode = 256;
        stream.clearLimit = 253;
        send(stream, sink, pixels);
        finish(stream, sink, 257, 9);
        benchmark::DoNotOptimize(sink.buffer.get());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}

// Each way of packing this machine runs; the converter takes the last.
void BM_PackLiteralCodes(benchmark::State& state, const LiteralPacker* packer) {
    packPicture(state, [packer](GifCodeStream& stream, GifSink& sink, std::span<const std::uint8_t> pixels) {
        putLiteralCodes(stream, sink, pixels, *packer);
    });
}
const bool packersRegistered = [] {
    for (const LiteralPacker& packer : literalPackers())
        if (packer.usable && packer.usable())
            benchmark::RegisterBenchmark((std::string("BM_PackLiteralCodes/") + packer.name).c_str(),
                                         BM_PackLiteralCodes, &packer)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
    return true;
}();

// The packer as the converter uses it: bands of 256 KiB, read moments
// before and so in the cache, packed into a 2 MiB buffer that is written
// out (here: emptied) whenever full.
void BM_PackBand(benchmark::State& state, const LiteralPacker* packer) {
    const auto band = pixelRows(bigPicture()).first(std::size_t{256} << 10);
    GifSink sink;
    sink.capacity = std::size_t{2} << 20;
    sink.buffer = allocateSinkBuffer(sink.capacity);
    GifCodeStream stream;
    reset(stream);
    stream.clearCode = 256;
    stream.clearLimit = 253;
    for (auto _ : state) {
        if (sink.used > sink.capacity / 2) sink.used = 0;
        putLiteralCodes(stream, sink, band, *packer);
        benchmark::DoNotOptimize(sink.buffer.get());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(band.size()));
}
const bool bandsRegistered = [] {
    for (const LiteralPacker& packer : literalPackers())
        if (packer.usable && packer.usable())
            benchmark::RegisterBenchmark((std::string("BM_PackBand/") + packer.name).c_str(), BM_PackBand, &packer)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
    return true;
}();

// The ceiling for BM_PackLiteralCodes: memcpy reading the picture and
// writing as many bytes as the packer writes, into memory.
void BM_CopyAsMuch(benchmark::State& state) {
    const auto pixels = pixelRows(bigPicture());
    const std::size_t extra = pixels.size() / 8 + pixels.size() / 200;
    std::vector<std::uint8_t> to(pixels.size() + extra);
    for (auto _ : state) {
        std::memcpy(to.data(), pixels.data(), pixels.size());
        std::memcpy(to.data() + pixels.size(), pixels.data(), extra);
        benchmark::DoNotOptimize(to.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_CopyAsMuch)->Unit(benchmark::kMillisecond)->UseRealTime();

// The ceiling for BM_WriteGifToDevNull: the picture's rows, bottom row of
// the DIB last as the writer takes them, copied into a 2 MiB buffer that
// goes to /dev/null whenever full.
void BM_CopyRowsToDevNull(benchmark::State& state) {
    const Picture& picture = bigPicture();
    const auto pixels = pixelRows(picture);
    const auto width = static_cast<std::size_t>(picture.width);
    std::FILE* null = std::fopen("/dev/null", "wb");
    if (!null) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    std::setvbuf(null, nullptr, _IONBF, 0);
    std::vector<std::uint8_t> buffer(std::size_t{2} << 20);
    for (auto _ : state) {
        std::size_t used = 0;
        for (std::size_t row = static_cast<std::size_t>(picture.height); row-- > 0;) {
            if (used + width > buffer.size()) {
                std::fwrite(buffer.data(), 1, used, null);
                used = 0;
            }
            std::memcpy(buffer.data() + used, pixels.data() + row * width, width);
            used += width;
        }
        std::fwrite(buffer.data(), 1, used, null);
    }
    std::fclose(null);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_CopyRowsToDevNull)->Unit(benchmark::kMillisecond)->UseRealTime();

// The plain bit-at-a-time packer, for scale.
void BM_PackBitByBit(benchmark::State& state) {
    const Picture& picture = bigPicture();
    const auto pixels = pixelRows(picture);
    const std::vector<std::uint8_t> codes(pixels.begin(), pixels.end());
    for (auto _ : state) benchmark::DoNotOptimize(quolb::test::referenceCodeStream(codes).data());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_PackBitByBit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
