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

int chooseOpenFile(Picture& picture, const std::string& start, DWORD& filterIndex, HWND owner) {
    char filter[pathBufferSize];
    char path[pathBufferSize];
    prepareFilter(filter, texts::openFilter);
    copyPath(path, start);
    picture.fileType = FileType::none;

    OPENFILENAMEA dialog = dialogFields(owner, filter, path);
    dialog.nFilterIndex = filterIndex;
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog)) return 0;
    filterIndex = dialog.nFilterIndex;

    picture.path = path;
    picture.fileType = fileTypeFromFilterIndex(dialog.nFilterIndex, path);
    return 1;
}

int chooseSaveFile(const std::string& proposal, char (&path)[pathBufferSize], HWND owner) {
    char filter[pathBufferSize];
    prepareFilter(filter, texts::saveFilter);
    copyPath(path, proposal);

    OPENFILENAMEA dialog = dialogFields(owner, filter, path);
    dialog.lpstrDefExt = "gif";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    return GetSaveFileNameA(&dialog) ? 1 : 0;
}

}  // namespace quolb
