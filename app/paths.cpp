#include "app/paths.h"

#include <cstring>

namespace quolb {

bool isCp932LeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool noLeadBytes(unsigned char) { return false; }

namespace {

// Position of the last byte equal to `wanted` that is not the trail byte of a
// double-byte character, or npos.
constexpr std::size_t npos = static_cast<std::size_t>(-1);

std::size_t lastSingleByte(const char* text, char wanted, LeadBytePredicate isLeadByte) {
    std::size_t found = npos;
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        if (isLeadByte(static_cast<unsigned char>(text[i])) && text[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (text[i] == wanted) found = i;
    }
    return found;
}

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

FileType fileTypeFromName(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length < 5) return FileType::none;
    if (endsWithLetters(path, length, "bmp")) return FileType::bitmap;
    if (endsWithLetters(path, length, "tim")) return FileType::tim;
    if (endsWithLetters(path, length, "lzb")) return FileType::container;
    if (endsWithLetters(path, length, "pb")) return FileType::archive;
    return FileType::none;
}

std::size_t cutExtension(char* path, LeadBytePredicate isLeadByte) {
    const std::size_t dot = lastSingleByte(path, '.', isLeadByte);
    if (dot == npos || dot == 0) return std::strlen(path);
    path[dot] = '\0';
    return dot;
}

std::size_t stripDirectory(char* path, LeadBytePredicate isLeadByte) {
    const std::size_t length = std::strlen(path);
    const std::size_t slash = lastSingleByte(path, '\\', isLeadByte);
    const std::size_t start = slash == npos ? 0 : slash + 1;
    std::memmove(path, path + start, length - start);
    path[length - start] = '\0';
    return length - start;
}

void makeFilterList(char* text, LeadBytePredicate isLeadByte) {
    const std::size_t length = std::strlen(text);
    if (length == 0) return;
    const char separator = text[length - 1];
    for (std::size_t i = 0; i < length; ++i) {
        if (isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < length) {
            ++i;
            continue;
        }
        if (text[i] == separator) text[i] = '\0';
    }
}

}  // namespace quolb
