// Small helpers over C streams that keep 64-bit offsets on every platform
// (long is 32 bits on Windows) and close what they open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace quolb {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens with the system's narrow-path convention (the ANSI code page on Windows).
FilePtr openFile(const char* path, const char* mode);

bool seekTo(std::FILE* file, std::int64_t offset);
// The stream's length in bytes, leaving it positioned at the start; -1 on failure.
std::int64_t measureFile(std::FILE* file);

}  // namespace quolb
