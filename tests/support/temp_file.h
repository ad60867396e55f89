// A file in the temporary folder holding given bytes, removed when the object
// goes, together with the GIF a test may have written beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <system_error>

namespace quolb::test {

class TempFile {
public:
    // `suffix` ends the name: ".bmp", or a whole name such as "scan.xpb".
    explicit TempFile(std::span<const std::uint8_t> bytes, const std::string& suffix = "") {
        // Test processes run side by side: a random part per process and a
        // counter within it keep every name apart.
        static const unsigned run = std::random_device{}();
        static std::atomic<unsigned> counter{0};
        name = (std::filesystem::temp_directory_path() /
                ("quolb-" + std::to_string(run) + "-" + std::to_string(counter++) + "-" + suffix))
                   .string();
        if (std::FILE* file = std::fopen(name.c_str(), "wb")) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
    }
    explicit TempFile(const std::string& suffix, std::span<const std::uint8_t> bytes = {})
        : TempFile(bytes, suffix) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(name, ignored);
        std::filesystem::remove(name + ".gif", ignored);
    }

    const std::string& path() const { return name; }

private:
    std::string name;
};

}  // namespace quolb::test
