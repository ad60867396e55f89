// ImageMagick's convert as an independent writer and reader of bitmaps.
// Only natively: Windows builds have no convert to call and report it absent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quolb::test {

// True when `convert` runs here.
bool haveConvert();
// Runs `convert ARGS` (ARGS as a shell would split them); true on success.
bool runConvert(const std::string& args);
// The picture in `path` as ImageMagick reads it: 8-bit red, green, blue per
// pixel, top row first. Empty on failure.
std::vector<std::uint8_t> convertReadRgb(const std::string& path);

}  // namespace quolb::test
