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

// How narrow paths are read on Windows: as UTF-8 (the default: the converter
// takes its names from the system as UTF-16, the window from the wide
// dialogs, so every name a user can type reaches the right file), or in the
// ANSI code page when a caller says so. Elsewhere paths are bytes.
void usePathsInUtf8(bool utf8);
bool pathsInUtf8();

#ifdef _WIN32
// A narrow path as the system's UTF-16 name, by the convention above.
std::wstring widePath(const std::string& path);
// And back, into the same convention.
std::string narrowPath(const std::wstring& path);
#endif

// Opens by the path convention above.
FilePtr openFile(const char* path, const char* mode);

bool seekTo(std::FILE* file, std::int64_t offset);
// The stream's length in bytes, leaving it positioned at the start; -1 on failure.
std::int64_t measureFile(std::FILE* file);

}  // namespace quolb
