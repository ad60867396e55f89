#include "image/file_io.h"

#include <utility>

#ifdef _WIN32
// Declared here to keep the platform's large header out of the core.
extern "C" __declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned codePage, unsigned long flags,
                                                                   const char* text, int length, wchar_t* wide,
                                                                   int wideLength);
#endif

namespace quolb {

#ifdef _WIN32
std::wstring widePath(const char* path) {
    constexpr unsigned utf8 = 65001;            // CP_UTF8
    constexpr unsigned ansi = 0;                // CP_ACP
    constexpr unsigned long strict = 0x8;       // MB_ERR_INVALID_CHARS
    for (const auto& [codePage, flags] : {std::pair{utf8, strict}, std::pair{ansi, 0ul}}) {
        const int length = MultiByteToWideChar(codePage, flags, path, -1, nullptr, 0);
        if (length <= 0) continue;
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        MultiByteToWideChar(codePage, flags, path, -1, wide.data(), length);
        wide.resize(static_cast<std::size_t>(length - 1));
        return wide;
    }
    return {};
}
#endif

FilePtr openFile(const char* path, const char* mode) {
#ifdef _WIN32
    return FilePtr(_wfopen(widePath(path).c_str(), widePath(mode).c_str()));
#else
    return FilePtr(std::fopen(path, mode));
#endif
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
