#include "image/file_io.h"

#include <exception>

#ifdef _WIN32
#include <filesystem>
#endif

namespace quolb {

namespace {
bool utf8Paths = false;
}  // namespace

void usePathsInUtf8(bool utf8) { utf8Paths = utf8; }
bool pathsInUtf8() { return utf8Paths; }

#ifdef _WIN32
// The standard library converts char8_t text from UTF-8 and plain char text
// from the ANSI code page, which keeps the platform's header out of the core.
// A name that does not convert becomes empty, which no file has.
std::wstring widePath(const std::string& path) {
    try {
        if (!utf8Paths) return std::filesystem::path(path).wstring();
        return std::filesystem::path(std::u8string(path.begin(), path.end())).wstring();
    } catch (const std::exception&) {
        return {};
    }
}

std::string narrowPath(const std::wstring& path) {
    try {
        if (!utf8Paths) return std::filesystem::path(path).string();
        const std::u8string text = std::filesystem::path(path).u8string();
        return std::string(text.begin(), text.end());
    } catch (const std::exception&) {
        return {};
    }
}
#endif

FilePtr openFile(const char* path, const char* mode) {
#ifdef _WIN32
    if (utf8Paths) {
        const std::string narrowMode = mode;
        return FilePtr(_wfopen(widePath(path).c_str(), std::wstring(narrowMode.begin(), narrowMode.end()).c_str()));
    }
#endif
    return FilePtr(std::fopen(path, mode));
}

bool seekTo(std::FILE* file, std::int64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t measureFile(std::FILE* file) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    const std::int64_t length = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const std::int64_t length = ftello(file);
#endif
    if (length < 0 || !seekTo(file, 0)) return -1;
    return length;
}

}  // namespace quolb
