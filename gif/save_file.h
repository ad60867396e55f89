// Saving without destroying what was there. The new content goes to a fresh
// file and takes the target's place only once it is complete, so a failed
// save leaves the old file byte for byte. The file that receives it is the
// one the name leads to, by every name it has:
//   - links are followed to the real file, which is replaced; a dangling
//     link gets its target created;
//   - a device, pipe, socket or terminal, or a name reaching an open
//     descriptor (/dev/stdout, /proc/self/fd/N), is written through, never
//     replaced, and nothing is ever created in /dev or /proc;
//   - a file the user may not write, or one without any write permission
//     bit (even for the administrator), is refused;
//   - the old file's mode, owner and group carry over; where the owner or
//     group cannot be given to a new file, or the file has several hard
//     links, the complete new content is copied over the old file in place
//     instead of renaming (its space is reserved first, so only a failure in
//     the middle of that copy can damage it; the new GIF then stays in the
//     temporary file, whose name the reason gives).
// Paths are narrow strings by the convention of image/file_io.h.
#pragma once

#include <string>

#include "image/file_io.h"

namespace quolb {

enum class SaveMode {
    replace,   // the temporary file is renamed over the target
    copyBack,  // the temporary file is copied into the target, which stays
    inPlace,   // the target itself is written (a device, pipe, descriptor)
};

struct SaveTarget {
    FilePtr file;          // where the content is written
    std::string path;      // the file that receives it, links followed
    std::string tempPath;  // empty when written in place
    SaveMode mode = SaveMode::replace;
    bool existed = false;  // whether `path` was there before
};

// Opens where content bound for `target` is written. Returns 1, or 0 with the
// reason ("cannot create the file: permission denied") in `why`.
int beginSave(const std::string& target, SaveTarget& save, std::string* why);

// Closes the file and, when `written` says every write succeeded, puts the
// content in place. On failure the temporary file is removed (unless it holds
// the only complete copy) and `why` gets the reason.
int finishSave(SaveTarget& save, bool written, std::string* why);

// Removes the temporary file of the save in progress, if any. Safe to call
// from a signal handler; the converter calls it when interrupted.
void removeSaveInProgress();

// The system's words for an error number ("no such file or directory"),
// lower-cased to read like this program's own reasons.
std::string systemReason(int error);

}  // namespace quolb
