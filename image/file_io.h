// Small helpers over C streams that keep 64-bit offsets on every platform
// (long is 32 bits on Windows) and close what they open.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quolb {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a path given as UTF-8, so that a name of any characters opens. On
// Windows a path that is not valid UTF-8 is taken in the ANSI code page.
FilePtr openFile(const char* path, const char* mode);

#ifdef _WIN32
// The path as the system's wide calls take it, by the rule openFile reads it.
std::wstring widePath(const char* path);
#endif

bool seekTo(std::FILE* file, std::int64_t offset);
// The stream's length in bytes, leaving it positioned at the start; -1 on failure.
std::int64_t measureFile(std::FILE* file);

}  // namespace quolb
