// LZW compression speed, ours against giflib's EGifPutLine on the same
// pictures in one run, in bytes of pixels per second; each run also reports
// the compressed size (`bytes`). Both get the smallest table that holds the
// picture's indices.
//
//   bench_lzw                 the benchmarks
//   bench_lzw --write DIR     also writes both outputs of every picture to
//                             DIR/<picture>-ours.gif and -giflib.gif (see
//                             bench/lzw-sizes.sh) and checks each decodes
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gif/lzw.h"

namespace {

using namespace quolb;

struct Sample {
    const char* name;
    int width, height, minimumCodeSize;
    std::vector<std::uint8_t> pixels;  // top row first
};

// A smooth photo-like field of 0..255: large soft shapes, gentle texture.
double field(int x, int y) {
    const double fx = x, fy = y;
    return 128 + 55 * std::sin(fx / 310.0) * std::cos(fy / 270.0) + 35 * std::sin((fx + 2 * fy) / 830.0) +
           18 * std::sin(fx / 23.0 + std::sin(fy / 41.0)) * std::cos(fy / 37.0);
}

// `dither` is the amplitude of the per-pixel noise that ordered or error
// diffusion dithering leaves when a photo is cut down to 256 colours.
Sample photo(const char* name, double dither) {
    Sample s{name, 4096, 4096, 8, {}};
    s.pixels.resize(std::size_t{4096} * 4096);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> noise(-dither, dither);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            s.pixels[std::size_t(y) * 4096 + std::size_t(x)] =
                static_cast<std::uint8_t>(std::clamp(field(x, y) + noise(random), 0.0, 255.0));
    return s;
}

// 16 colours drawn at 256 x 256 (filled boxes and discs on a background)
// and enlarged 16 times, as pixel art is shown.
Sample pixelArt() {
    std::vector<std::uint8_t> small(256 * 256, 0);
    std::mt19937 random(5);
    for (int shape = 0; shape < 400; ++shape) {
        const int cx = int(random() % 256), cy = int(random() % 256), r = 2 + int(random() % 14);
        const auto colour = static_cast<std::uint8_t>(random() % 16);
        const bool disc = random() % 2;
        for (int y = std::max(0, cy - r); y < std::min(256, cy + r); ++y)
            for (int x = std::max(0, cx - r); x < std::min(256, cx + r); ++x)
                if (!disc || (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r) small[std::size_t(y * 256 + x)] = colour;
    }
    Sample s{"pixel-art-16", 4096, 4096, 4, {}};
    s.pixels.resize(std::size_t{4096} * 4096);
    for (int y = 0; y < 4096; ++y)
        for (int x = 0; x < 4096; ++x) s.pixels[std::size_t(y) * 4096 + std::size_t(x)] = small[std::size_t((y / 16) * 256 + x / 16)];
    return s;
}

// A figure of 31 colours with shading and an outline on a plain background.
Sample sprite() {
    Sample s{"sprite-32", 320, 240, 5, {}};
    s.pixels.assign(320 * 240, 0);
    std::mt19937 random(3);
    for (int part = 0; part < 24; ++part) {
        const int cx = 80 + int(random() % 160), cy = 50 + int(random() % 140), rx = 8 + int(random() % 30),
                  ry = 8 + int(random() % 30);
        const int base = 1 + int(random() % 5) * 6;
        for (int y = cy - ry; y <= cy + ry; ++y)
            for (int x = cx - rx; x <= cx + rx; ++x) {
                const double d = double((x - cx) * (x - cx)) / (rx * rx) + double((y - cy) * (y - cy)) / (ry * ry);
                if (d > 1 || x < 0 || y < 0 || x >= 320 || y >= 240) continue;
                const int shade = d > 0.85 ? 0 : 1 + std::min(4, int((x - cx + rx) * 5 / (2 * rx + 1)));
                s.pixels[std::size_t(y * 320 + x)] = static_cast<std::uint8_t>(std::min(31, base + shade));
            }
    }
    return s;
}

Sample noise() {
    Sample s{"noise-256", 4096, 4096, 8, {}};
    s.pixels.resize(std::size_t{4096} * 4096);
    std::mt19937 random(7);
    for (auto& p : s.pixels) p = static_cast<std::uint8_t>(random());
    return s;
}

const std::vector<Sample>& samples() {
    static const std::vector<Sample> all = [] {
        std::vector<Sample> v;
        v.push_back(photo("photo-dithered", 10));
        v.push_back(photo("photo-smooth", 0.6));
        v.push_back(pixelArt());
        v.push_back(sprite());
        v.push_back(noise());
        return v;
    }();
    return all;
}

// The whole GIF around our image data, as the writer frames it: the image
// as the writer compresses it (in two halves on two threads when large), or
// fed row by row to one encoder.
std::vector<std::uint8_t> oursGif(const Sample& s, GifSink& sink, LzwEncoder* oneThread) {
    sink.used = 0;
    const std::size_t colours = std::size_t{1} << s.minimumCodeSize;
    std::vector<std::uint8_t> head = {'G', 'I', 'F', '8', '9', 'a', std::uint8_t(s.width), std::uint8_t(s.width >> 8),
                                      std::uint8_t(s.height), std::uint8_t(s.height >> 8),
                                      std::uint8_t(0xF0 | (s.minimumCodeSize - 1)), 0, 0};
    for (std::size_t i = 0; i < colours; ++i) head.insert(head.end(), 3, std::uint8_t(i * 255 / (colours - 1)));
    const std::uint8_t image[] = {0x2C, 0, 0, 0, 0, std::uint8_t(s.width), std::uint8_t(s.width >> 8),
                                  std::uint8_t(s.height), std::uint8_t(s.height >> 8), 0, std::uint8_t(s.minimumCodeSize)};
    head.insert(head.end(), image, image + sizeof image);
    sinkWrite(sink, head.data(), head.size());
    const auto row = [&s](std::size_t y, std::span<std::uint8_t>) {
        return std::span<const std::uint8_t>(s.pixels.data() + y * std::size_t(s.width), std::size_t(s.width));
    };
    if (oneThread) {
        lzwBegin(*oneThread, s.minimumCodeSize);
        for (std::size_t y = 0; y < std::size_t(s.height); ++y) lzwFeed(*oneThread, sink, row(y, {}));
        lzwFinish(*oneThread, sink);
    } else if (!lzwCompress(sink, s.minimumCodeSize, std::size_t(s.width), std::size_t(s.height), row, false, SIZE_MAX)) {
        std::abort();
    }
    const std::uint8_t tail[] = {0, 0x3B};
    sinkWrite(sink, tail, 2);
    return {sink.buffer.get(), sink.buffer.get() + sink.used};
}

int toMemory(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

std::vector<std::uint8_t> giflibGif(const Sample& s) {
    std::vector<std::uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, toMemory, &error);
    const int colours = 1 << s.minimumCodeSize;
    ColorMapObject* map = GifMakeMapObject(colours, nullptr);
    for (int i = 0; i < colours; ++i) {
        const auto v = static_cast<GifByteType>(i * 255 / (colours - 1));
        map->Colors[i] = {v, v, v};
    }
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, s.width, s.height, s.minimumCodeSize, 0, map);
    EGifPutImageDesc(gif, 0, 0, s.width, s.height, false, nullptr);
    for (int y = 0; y < s.height; ++y)
        EGifPutLine(gif, const_cast<GifPixelType*>(s.pixels.data() + std::size_t(y) * std::size_t(s.width)), s.width);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

void BM_Ours(benchmark::State& state, const Sample* s) {
    GifSink sink;
    std::size_t size = 0;
    for (auto _ : state) size = oursGif(*s, sink, nullptr).size();
    state.SetBytesProcessed(state.iterations() * std::int64_t(s->pixels.size()));
    state.counters["bytes"] = double(size);
}

void BM_OursOneThread(benchmark::State& state, const Sample* s) {
    GifSink sink;
    LzwEncoder encoder;
    std::size_t size = 0;
    for (auto _ : state) size = oursGif(*s, sink, &encoder).size();
    state.SetBytesProcessed(state.iterations() * std::int64_t(s->pixels.size()));
    state.counters["bytes"] = double(size);
}

void BM_Giflib(benchmark::State& state, const Sample* s) {
    std::size_t size = 0;
    for (auto _ : state) size = giflibGif(*s).size();
    state.SetBytesProcessed(state.iterations() * std::int64_t(s->pixels.size()));
    state.counters["bytes"] = double(size);
}

bool decodesTo(const std::vector<std::uint8_t>& gifBytes, const Sample& s) {
    struct Reader {
        const std::vector<std::uint8_t>* bytes;
        std::size_t at;
    } reader{&gifBytes, 0};
    auto read = [](GifFileType* gif, GifByteType* to, int length) {
        auto* r = static_cast<Reader*>(gif->UserData);
        const std::size_t n = std::min(std::size_t(length), r->bytes->size() - r->at);
        std::memcpy(to, r->bytes->data() + r->at, n);
        r->at += n;
        return int(n);
    };
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, read, &error);
    const bool ok = gif && DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 &&
                    std::equal(s.pixels.begin(), s.pixels.end(), gif->SavedImages[0].RasterBits);
    if (gif) DGifCloseFile(gif, &error);
    return ok;
}

int writeAll(const std::string& folder) {
    GifSink sink;
    int status = 0;
    for (const Sample& s : samples()) {
        for (const auto& [kind, bytes] : {std::pair{"ours", oursGif(s, sink, nullptr)}, std::pair{"giflib", giflibGif(s)}}) {
            const std::string path = folder + "/" + s.name + "-" + kind + ".gif";
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) status = 1;
            if (f) std::fclose(f);
            if (!decodesTo(bytes, s)) {
                std::fprintf(stderr, "%s does not decode to its picture\n", path.c_str());
                status = 1;
            }
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) return writeAll(argv[2]);
    for (const Sample& s : samples()) {
        benchmark::RegisterBenchmark((std::string("Ours/") + s.name).c_str(), BM_Ours, &s)->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("OursOneThread/") + s.name).c_str(), BM_OursOneThread, &s)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark((std::string("Giflib/") + s.name).c_str(), BM_Giflib, &s)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
