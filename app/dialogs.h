// The Open and Save dialogs, in their wide forms, so that files of any name
// are chosen; paths come and go as UTF-8, up to the system's limit.
#pragma once

#include <windows.h>

#include <string>

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

// Runs the open dialog, starting from `start` on the entry `filterIndex`
// (1-based), which gets the entry chosen. Returns 1
// with picture.path and picture.fileType set when a file was chosen (the type
// none when the last entry was chosen and the name tells nothing: the bytes
// then decide); 0 otherwise (fileType is then none).
int chooseOpenFile(Picture& picture, const std::string& start, DWORD& filterIndex, HWND owner);

// Runs the save dialog, proposing `proposal`. Returns 1 with the confirmed
// name in `path` and, from the chosen type, how to write it in `options`; 0
// otherwise.
int chooseSaveFile(const std::string& proposal, std::string& path, HWND owner, GifOptions& options);

// A wide string of the system's as UTF-8.
std::string utf8FromWide(const wchar_t* text);

}  // namespace quolb
