// Prints, as UTF-8, the text of the message box the desktop tool shows (a
// dialog captioned with the program's title): how the end-to-end test reads
// a box back. Exits 1 when there is none.
//
// With `--name TEXT` it puts TEXT in the file dialog's name box
// instead: keys typed into Wine under load can lose shifted and non-ASCII
// characters, a message cannot. Exits 1 when there is no such dialog.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The file dialog's name box: a combo box, or an edit in older layouts.
int setFileName(const wchar_t* name) {
    for (HWND dialog = nullptr; (dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr));)
        for (int box : {0x47C, 0x480})
            if (HWND control = GetDlgItem(dialog, box)) return SetWindowTextW(control, name) ? 0 : 1;
    return 1;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count == 3 && std::wcscmp(arguments[1], L"--name") == 0) return setFileName(arguments[2]);
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) && textOf(box) != L"Quolb～GIF") {
    }
    if (!box) return 1;
    std::wstring message;  // the longest static text: the message, not the icon
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (_wcsicmp(name, L"Static") == 0 && textOf(child).size() > message.size()) message = textOf(child);
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, message.c_str(), static_cast<int>(message.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, message.c_str(), static_cast<int>(message.size()), utf8.data(), size, nullptr,
                        nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}
