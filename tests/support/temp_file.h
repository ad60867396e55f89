// A file in the temporary folder holding given bytes, removed when the object
// goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace quolb::test {

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TempFile {
public:
    // `suffix` ends the name: ".bmp", or a whole name such as "scan.xpb".
    explicit TempFile(const std::string& suffix, std::span<const std::uint8_t> bytes = {}) {
        // Test processes run side by side: a random part per process and a
        // counter within it keep every name apart.
        static const std::string run = std::to_string(std::random_device{}());
        static unsigned counter = 0;
        const std::string unique = "quolb-" + run + "-" + std::to_string(counter++) + "-";
        name = (std::filesystem::temp_directory_path() / (unique + suffix)).string();
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(name, ignored);
    }

    const std::string& path() const { return name; }

private:
    std::string name;
};

}  // namespace quolb::test
