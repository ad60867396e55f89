// Saving without destroying what was there: the new content goes to a fresh
// file beside the target and replaces the target only once it is complete.
// Paths are narrow strings read as openFile reads them (UTF-8).
#pragma once

#include <string>

#include "image/file_io.h"

namespace quolb {

// True when `target` exists and is no plain file (a device such as
// /dev/null, a pipe): such a target is written in place, never replaced.
bool isSpecialFile(const std::string& target);

// Creates a new, empty file in the folder of `target`, under a name no other
// file has, and opens it for binary writing. `tempPath` gets its name. Where
// the system has permission bits, an existing target's are kept.
FilePtr createFileBeside(const std::string& target, std::string& tempPath);

// Renames `from` to `to`, replacing a file already at `to` in one step.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace quolb
