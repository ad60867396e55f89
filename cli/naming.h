// Small pure helpers of the converter: option values and output names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/paths.h"
#include "image/picture.h"
#include "gif/writer.h"

namespace quolb {

// "bmp", "tim", "container" or "archive", in any case; nullopt for anything else.
std::optional<FileType> fileTypeFromOption(std::string_view name);
// The name --type takes for a type, the same one --info prints.
std::string_view fileTypeOption(FileType type);

// "R,G,B" with decimal components 0-255, or "#RRGGBB".
std::optional<TransparentColour> parseColour(std::string_view text);

// Bytes that lead a double-byte character in the code page paths are given in.
LeadBytePredicate pathLeadBytes();

// The path cut before its extension. Only a dot in the file name counts: a
// dot in a directory name is not an extension, and a name that starts with
// its only dot keeps it.
std::string pathStem(const std::string& path);

// INPUT's default GIF: its stem plus ".gif".
std::string defaultOutput(const std::string& input);

// The name --all gives item `number` (1-based): stem-001.gif, stem-002.gif,
// ..., with at least `digits` digits, so that names sort in item order.
std::string itemOutput(const std::string& output, int number, int digits = 3);

}  // namespace quolb
