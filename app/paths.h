// Path helpers shared by the desktop tool and the command-line converter.
// Portable code on NUL-terminated byte strings, changed in place. In a
// double-byte code page a trail byte may equal '\\' or '.', so the scans
// step over each lead byte's pair; `isLeadByte` says which bytes lead.
#pragma once

#include <cstddef>

#include "image/picture.h"

namespace quolb {

using LeadBytePredicate = bool (*)(unsigned char);

bool isCp932LeadByte(unsigned char byte);
bool noLeadBytes(unsigned char byte);  // single-byte text such as UTF-8

// The type a name's ending tells: "bmp", "tim", "lzb" or a final "pb", in any
// case, on a name of at least 5 bytes; FileType::none otherwise.
FileType fileTypeFromName(const char* path);

// Cuts the path at its last dot, unless that dot is the first byte; returns
// the resulting length.
std::size_t cutExtension(char* path, LeadBytePredicate isLeadByte = isCp932LeadByte);

// Keeps what follows the last backslash; returns the resulting length.
std::size_t stripDirectory(char* path, LeadBytePredicate isLeadByte = isCp932LeadByte);

// Turns "label|pattern|" into "label\0pattern\0\0": the last byte of the text
// is the separator, and every separator becomes a NUL.
void makeFilterList(char* text, LeadBytePredicate isLeadByte = isCp932LeadByte);

}  // namespace quolb
