#include "image/paths.h"

#include <cstring>

#include "image/file_io.h"

#ifdef _WIN32
// Declared here to keep the platform's large header out of the core.
extern "C" __declspec(dllimport) int __stdcall IsDBCSLeadByte(unsigned char byte);
#endif

namespace quolb {

bool isCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool noLeadBytes(unsigned char) { return false; }

namespace {

#ifdef _WIN32
bool systemLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }
#endif

bool endsWithLetters(const char* path, std::size_t length, const char* letters) {
    const std::size_t count = std::strlen(letters);
    for (std::size_t i = 0; i < count; ++i) {
        const char c = path[length - count + i];
        const char lower = letters[i];
        const char upper = static_cast<char>(lower - 'a' + 'A');
        if (c != lower && c != upper) return false;
    }
    return true;
}

}  // namespace

PathConvention systemPaths() {
#ifdef _WIN32
    // Names the process keeps in UTF-8 have no double-byte characters.
    return {"\\/:", pathsInUtf8() ? noLeadBytes : systemLeadByte};
#else
    return {"/", noLeadBytes};
#endif
}

PathParts splitPath(std::string_view path, const PathConvention& convention) {
    PathParts parts;
    std::size_t lastDot = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (convention.isLeadByte(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (convention.separators.find(c) != std::string_view::npos) {
            parts.nameStart = i + 1;
            lastDot = std::string_view::npos;
        } else if (c == '.') {
            lastDot = i;
        }
    }
    parts.extensionStart = lastDot != std::string_view::npos && lastDot > parts.nameStart ? lastDot : path.size();
    return parts;
}

FileType fileTypeFromName(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length < 5) return FileType::none;
    if (endsWithLetters(path, length, "bmp")) return FileType::bitmap;
    if (endsWithLetters(path, length, "tim")) return FileType::tim;
    if (endsWithLetters(path, length, "lzb")) return FileType::container;
    if (endsWithLetters(path, length, "pb")) return FileType::archive;
    return FileType::none;
}

std::size_t cutExtension(char* path, const PathConvention& convention) {
    const std::size_t end = splitPath(path, convention).extensionStart;
    path[end] = '\0';
    return end;
}

std::size_t stripDirectory(char* path, const PathConvention& convention) {
    const std::size_t length = std::strlen(path);
    const std::size_t start = splitPath(path, convention).nameStart;
    std::memmove(path, path + start, length - start);
    path[length - start] = '\0';
    return length - start;
}

}  // namespace quolb
