#include "image/file_io.h"

namespace quolb {

namespace {
// Both front ends hand the core UTF-8 names: the converter from its UTF-16
// arguments, the window from the wide dialogs.
bool utf8Paths = true;
}  // namespace

void usePathsInUtf8(bool utf8) { utf8Paths = utf8; }
bool pathsInUtf8() { return utf8Paths; }

#ifdef _WIN32
// The system's conversions, declared here to keep the platform's large
// header out of the core.
extern "C" __declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned codePage, unsigned long flags,
                                                                    const char* text, int length, wchar_t* wide,
                                                                    int wideLength);
extern "C" __declspec(dllimport) int __stdcall WideCharToMultiByte(unsigned codePage, unsigned long flags,
                                                                    const wchar_t* wide, int wideLength, char* text,
                                                                    int length, const char* defaultChar,
                                                                    int* usedDefault);

namespace {
constexpr unsigned ansiCodePage = 0, utf8CodePage = 65001;
constexpr unsigned long refuseInvalid = 0x8;  // MB_ERR_INVALID_CHARS
}  // namespace

// A name that does not convert becomes empty, which no file has.
std::wstring widePath(const std::string& path) {
    if (path.empty()) return {};
    const unsigned codePage = utf8Paths ? utf8CodePage : ansiCodePage;
    const unsigned long flags = utf8Paths ? refuseInvalid : 0;
    const int size = static_cast<int>(path.size());
    const int length = MultiByteToWideChar(codePage, flags, path.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, path.data(), size, wide.data(), length);
    return wide;
}

std::string narrowPath(const std::wstring& path) {
    if (path.empty()) return {};
    const unsigned codePage = utf8Paths ? utf8CodePage : ansiCodePage;
    const int size = static_cast<int>(path.size());
    const int length = WideCharToMultiByte(codePage, 0, path.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(codePage, 0, path.data(), size, text.data(), length, nullptr, nullptr);
    return text;
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
