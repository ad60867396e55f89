// The Open and Save dialogs, in their ANSI forms. Paths are code-page-932
// byte strings of at most 255 bytes.
#pragma once

#include <windows.h>

#include "gif/writer.h"
#include "image/picture.h"

namespace quolb {

inline constexpr std::size_t pathBufferSize = 256;

// Turns "label|pattern|" into "label\0pattern\0\0": the last byte of the text
// is the separator, and every separator becomes a NUL. The texts are the
// program's own, in code page 932 whatever the system's.
void makeFilterList(char* text);

// The file type the open dialog's 1-based filter index stands for; the last
// entry lets the chosen name decide.
FileType fileTypeFromFilterIndex(DWORD filterIndex, const char* path);

// Runs the open dialog, starting from the picture's current path. Returns 1
// with picture.path and picture.fileType set when a file of a known type was
// chosen; 0 otherwise (fileType is then none).
int chooseOpenFile(Picture& picture, HWND owner);

// Runs the save dialog, proposing the picture's path without its extension.
// Returns 1 with the confirmed name in `path` and, from the chosen type, how
// to write it in `options`; 0 otherwise.
int chooseSaveFile(const Picture& picture, char (&path)[pathBufferSize], HWND owner, GifOptions& options);

}  // namespace quolb
