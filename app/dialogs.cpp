#include "app/dialogs.h"

#include <commdlg.h>

#include <cstring>

#include "app/texts.h"
#include "image/paths.h"

namespace quolb {

namespace {

// Copies a filter text into a buffer of its own and turns it into the list
// the dialog wants, so the constant stays as it is.
template <std::size_t N>
void prepareFilter(char (&buffer)[pathBufferSize], const char (&text)[N]) {
    static_assert(N <= pathBufferSize);
    std::memcpy(buffer, text, N);
    makeFilterList(buffer);
}

// A path longer than the dialog's buffer cannot be proposed: start empty.
void copyPath(char (&buffer)[pathBufferSize], const std::string& path) {
    if (path.size() >= pathBufferSize) {
        buffer[0] = '\0';
        return;
    }
    std::memcpy(buffer, path.c_str(), path.size() + 1);
}

// The fields both dialogs share: owner, filter list starting on its first
// entry, and the path buffer.
OPENFILENAMEA dialogFields(HWND owner, const char* filter, char (&path)[pathBufferSize]) {
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = path;
    dialog.nMaxFile = pathBufferSize;
    return dialog;
}

}  // namespace

void makeFilterList(char* text) {
    const std::size_t length = std::strlen(text);
    if (length == 0) return;
    const char separator = text[length - 1];
    for (std::size_t i = 0; i < length; ++i) {
        if (isCp932LeadByte(static_cast<unsigned char>(text[i])) && i + 1 < length) {
            ++i;
            continue;
        }
        if (text[i] == separator) text[i] = '\0';
    }
}

FileType fileTypeFromFilterIndex(DWORD filterIndex, const char* path) {
    switch (filterIndex) {
    case 1: return FileType::bitmap;
    case 2: return FileType::tim;
    case 3: return FileType::container;
    case 4: return FileType::archive;
    case 5: return fileTypeFromName(path);
    default: return FileType::none;
    }
}

int chooseOpenFile(Picture& picture, HWND owner) {
    char filter[pathBufferSize];
    char path[pathBufferSize];
    prepareFilter(filter, texts::openFilter);
    copyPath(path, picture.path);
    picture.fileType = FileType::none;

    OPENFILENAMEA dialog = dialogFields(owner, filter, path);
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) return 0;

    picture.path = path;
    picture.fileType = fileTypeFromFilterIndex(dialog.nFilterIndex, path);
    return picture.fileType == FileType::none ? 0 : 1;
}

int chooseSaveFile(const Picture& picture, char (&path)[pathBufferSize], HWND owner, GifOptions& options) {
    char filter[pathBufferSize];
    prepareFilter(filter, texts::saveFilter);
    copyPath(path, picture.path);
    cutExtension(path);

    OPENFILENAMEA dialog = dialogFields(owner, filter, path);
    dialog.lpstrDefExt = "gif";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&dialog)) return 0;
    options.lzw = dialog.nFilterIndex == 2;
    return 1;
}

}  // namespace quolb
