// Builds TIM pictures, their raw bytes and archives of containers for the
// loader tests, plus what each pixel should look like once loaded.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace quolb::test {

struct TimSpec {
    int depth = 8;                      // 8 or 4
    std::uint16_t rowUnits = 2;         // W: 16-bit units per row
    std::uint16_t rows = 2;             // H
    std::vector<std::uint16_t> clut;    // colours in the CLUT block (at least 16 or 256)
    std::vector<std::uint8_t> pixels;   // 2 x W x H bytes, top row first
    std::int64_t clutLength = -1;       // L as stored; -1: 12 + 2 x clut.size()
};

inline void putU16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}

// A picture whose colours and pixels follow simple patterns that make
// misplaced rows, swapped nibbles or mixed-up channels show.
inline TimSpec patternTim(int depth, std::uint16_t rowUnits, std::uint16_t rows, unsigned seed = 1) {
    TimSpec spec;
    spec.depth = depth;
    spec.rowUnits = rowUnits;
    spec.rows = rows;
    const unsigned colours = depth == 8 ? 256 : 16;
    for (unsigned i = 0; i < colours; ++i)
        spec.clut.push_back(static_cast<std::uint16_t>((i * 7 + seed) % 32 | ((i * 3 + seed) % 32) << 5 |
                                                       ((i * 13 + seed * 5) % 32) << 10 | (i % 2) << 15));
    for (unsigned r = 0; r < rows; ++r)
        for (unsigned c = 0; c < 2u * rowUnits; ++c)
            spec.pixels.push_back(static_cast<std::uint8_t>((r * 37 + c * 11 + seed + (c / 5) * (r % 3)) % 256));
    return spec;
}

// TIM data from the CLUT block on.
inline std::vector<std::uint8_t> timData(const TimSpec& spec) {
    std::vector<std::uint8_t> out;
    const auto clutLength = static_cast<std::uint32_t>(spec.clutLength >= 0 ? spec.clutLength
                                                                            : 12 + 2 * std::int64_t(spec.clut.size()));
    putU32(out, clutLength);
    putU16(out, 0);
    putU16(out, 0);
    putU16(out, static_cast<unsigned>(spec.clut.size()));
    putU16(out, 1);
    for (auto colour : spec.clut) putU16(out, colour);
    const unsigned colours = spec.depth == 8 ? 256 : 16;
    const std::size_t widthAt = std::max<std::size_t>(std::size_t{clutLength} + 8, 12 + 2 * colours);
    out.resize(std::max(out.size(), widthAt - 8), 0);
    putU32(out, 12 + static_cast<std::uint32_t>(spec.pixels.size()));  // image block length: not read
    putU16(out, 0);
    putU16(out, 0);
    out.resize(widthAt, 0);
    putU16(out, spec.rowUnits);
    putU16(out, spec.rows);
    out.insert(out.end(), spec.pixels.begin(), spec.pixels.end());
    return out;
}

inline std::vector<std::uint8_t> timFile(const TimSpec& spec) {
    std::vector<std::uint8_t> out;
    putU32(out, 16);
    putU32(out, spec.depth == 8 ? 9 : 8);
    const auto data = timData(spec);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// The picture as a viewer sees it: width, height and each pixel's colour
// index and red, green, blue, top row first.
struct ExpectedPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;
    std::vector<std::array<std::uint8_t, 3>> colours;  // the n colours of the CLUT
};

inline std::uint8_t widen5(unsigned v) { return static_cast<std::uint8_t>((v & 31) * 255 / 31); }

inline ExpectedPicture expectedPicture(const TimSpec& spec) {
    ExpectedPicture e;
    const unsigned colours = spec.depth == 8 ? 256 : 16;
    for (unsigned i = 0; i < colours; ++i) {
        const unsigned c = spec.clut[i];
        e.colours.push_back({widen5(c), widen5(c >> 5), widen5(c >> 10)});
    }
    e.width = (spec.depth == 8 ? 2 : 4) * spec.rowUnits;
    e.height = spec.rows;
    for (std::uint8_t byte : spec.pixels) {
        if (spec.depth == 8) {
            e.indices.push_back(byte);
        } else {
            e.indices.push_back(byte & 15);  // the left pixel is the low nibble
            e.indices.push_back(byte >> 4);
        }
    }
    return e;
}

inline std::vector<std::uint8_t> concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (auto part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// A file in the system's temporary folder, removed when the test ends.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& name, std::span<const std::uint8_t> bytes = {}) {
        path = (std::filesystem::temp_directory_path() / ("quolb-loaders-" + name)).string();
        write(bytes);
    }
    void write(std::span<const std::uint8_t> bytes) const {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return;
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        std::filesystem::remove(path + ".gif", ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

}  // namespace quolb::test
