// One input's work for the converter: load it (an archive item by item) and
// write its GIF, print its facts as JSON, or list an archive's items.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/picture.h"
#include "gif/writer.h"

namespace quolb {

enum class Action { convert, info, list };

struct Job {
    std::string input;
    FileType type = FileType::none;
    std::string output;  // the GIF; for --all the stem its items are named after
    Action action = Action::convert;
    std::optional<TransparentColour> transparent;
    GifOptions gif;      // alphaTransparency is set from `transparent`
    int item = 0;        // 1-based archive item; 0 = the first
    bool allItems = false;
    std::int64_t maxPixels = defaultMaxPixels;  // 0: no limit
    bool progress = false;
    std::string progressPrefix;  // "[2/5] " when several inputs convert
};

// Prints every failure to stderr as "quolb-gif: PATH: reason"; returns true
// when everything asked of this input succeeded.
bool runJob(const Job& job);

// A JSON string literal for a path in the system's narrow encoding.
std::string jsonString(const std::string& text);

}  // namespace quolb
