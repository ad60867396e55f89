// Paths as narrow byte strings, the way both front ends get them: split into
// folder, name and extension by one routine, under one convention for which
// bytes end a folder and which bytes lead a double-byte character. In a
// double-byte code page such as 932 a trail byte may equal '\\' or '.', so
// the scan steps over each lead byte's pair.
#pragma once

#include <cstddef>
#include <string_view>

#include "image/picture.h"

namespace quolb {

using LeadBytePredicate = bool (*)(unsigned char);

bool isCp932LeadByte(unsigned char byte);
bool noLeadBytes(unsigned char byte);  // single-byte text, or UTF-8: no trail byte is ASCII

struct PathConvention {
    std::string_view separators;   // the bytes that end a folder
    LeadBytePredicate isLeadByte;  // the bytes that start a double-byte character
};

// Windows paths in code page 932.
inline constexpr PathConvention cp932Paths{"\\/:", isCp932LeadByte};
// Windows paths in UTF-8, as the desktop tool keeps them.
inline constexpr PathConvention utf8WindowsPaths{"\\/:", noLeadBytes};

// The convention of the system this runs on: on Windows '\\', '/' and a
// drive's ':' with the lead bytes of the system's ANSI code page (the one
// narrow paths arrive in); elsewhere '/' and no lead bytes.
PathConvention systemPaths();

// Where a path's parts start: the folder is [0, nameStart) with its last
// separator, the name [nameStart, extensionStart), the extension the rest
// (its dot and what follows). Only a dot in the name starts an extension,
// and not when it is the name's first byte (".hidden" has none).
struct PathParts {
    std::size_t nameStart = 0;
    std::size_t extensionStart = 0;
};
PathParts splitPath(std::string_view path, const PathConvention& convention = systemPaths());

// The type a name's ending tells: "bmp", "tim", "lzb" or a final "pb", in any
// case, on a name of at least 5 bytes; FileType::none otherwise.
FileType fileTypeFromName(const char* path);

// Cuts the extension off the path in place; returns the resulting length.
std::size_t cutExtension(char* path, const PathConvention& convention = systemPaths());

// Keeps only the name and extension, in place; returns the resulting length.
std::size_t stripDirectory(char* path, const PathConvention& convention = systemPaths());

}  // namespace quolb
