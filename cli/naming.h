// Small pure helpers of the converter: option values and output names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/picture.h"
#include "gif/writer.h"

namespace quolb {

// "bmp", "tim", "container" or "archive", in any case; nullopt for anything else.
std::optional<FileType> fileTypeFromOption(std::string_view name);
// The name --type takes for a type, the same one --info prints.
std::string_view fileTypeOption(FileType type);

// "R,G,B" with decimal components 0-255, or "#RRGGBB".
std::optional<TransparentColour> parseColour(std::string_view text);

// INPUT's default GIF: its folder and name (without the extension) plus ".gif".
std::string defaultOutput(const std::string& input);

// The name --all gives item `number` (1-based): the output's folder and name
// plus -001.gif, -002.gif, ..., with at least `digits` digits, so that names
// sort in item order.
std::string itemOutput(const std::string& output, int number, int digits = 3);

}  // namespace quolb
