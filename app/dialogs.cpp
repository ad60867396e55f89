#include "app/dialogs.h"

#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/texts.h"
#include "image/paths.h"

namespace quolb {

namespace {

// The wide dialogs take paths up to the system's long-path limit.
constexpr DWORD widePathSize = 32768;

// A filter list as the wide dialog wants it: the program's code-page-932
// text, separators already NULs, converted whole.
template <std::size_t N>
std::wstring wideFilter(const char (&text)[N]) {
    static_assert(N <= pathBufferSize);
    char list[N];
    std::memcpy(list, text, N);
    makeFilterList(list);
    const int length = MultiByteToWideChar(932, 0, list, static_cast<int>(N), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    MultiByteToWideChar(932, 0, list, static_cast<int>(N), wide.data(), length);
    return wide;
}

std::wstring wideFromUtf8(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 1)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

// The fields both dialogs share: owner, filter list, and the path buffer
// holding the proposed or starting name (none when it does not fit).
OPENFILENAMEW dialogFields(HWND owner, const std::wstring& filter, std::vector<wchar_t>& buffer,
                           const std::string& start) {
    buffer.assign(widePathSize, L'\0');
    const std::wstring name = wideFromUtf8(start);
    if (name.size() < buffer.size()) std::copy(name.begin(), name.end(), buffer.begin());
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = widePathSize;
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

std::string utf8FromWide(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 1)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    narrow.resize(narrow.size() - 1);
    return narrow;
}

int chooseOpenFile(Picture& picture, const std::string& start, DWORD& filterIndex, HWND owner) {
    const std::wstring filter = wideFilter(texts::openFilter);
    std::vector<wchar_t> buffer;
    picture.fileType = FileType::none;

    OPENFILENAMEW dialog = dialogFields(owner, filter, buffer, start);
    dialog.nFilterIndex = filterIndex;
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&dialog)) return 0;
    filterIndex = dialog.nFilterIndex;

    picture.path = utf8FromWide(buffer.data());
    picture.fileType = fileTypeFromFilterIndex(dialog.nFilterIndex, picture.path.c_str());
    return 1;
}

int chooseSaveFile(const std::string& proposal, std::string& path, HWND owner, GifOptions& options) {
    const std::wstring filter = wideFilter(texts::saveFilter);
    std::vector<wchar_t> buffer;
    OPENFILENAMEW dialog = dialogFields(owner, filter, buffer, proposal);
    dialog.lpstrDefExt = L"gif";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&dialog)) return 0;
    path = utf8FromWide(buffer.data());
    options.lzw = dialog.nFilterIndex == 2;
    return 1;
}

}  // namespace quolb
