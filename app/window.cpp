#include "app/window.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/about.h"
#include "app/dialogs.h"
#include "app/texts.h"
#include "app/title.h"
#include "app/view.h"
#include "gif/writer.h"
#include "image/archive.h"
#include "image/file_io.h"
#include "image/paths.h"
#include "res/resource.h"

namespace quolb {
namespace {

// Everything the shell owns from start-up to exit.
struct ShellState {
    Picture picture;
    HPALETTE paletteHandle = nullptr;      // picture.palette as a GDI palette
    int transparentGif = 0;
    TransparentColour transparentColour;   // black until the first pick
    int bandExtent = 0;                    // client width - 280
    HBITMAP aboutBitmap = nullptr;
    HCURSOR dropperCursor = nullptr;
    HWND checkBox = nullptr;
    HWND emptyStatic = nullptr;
    HWND colourLabel = nullptr;
    RECT clientRect{};
    std::string shownPath;                 // the picture on screen's file: the next Open starts there
    std::string proposal;                  // the name Save proposes for it
    DWORD openFilterIndex = 1;             // the open dialog's entry chosen last
    ScrollOffset scroll;                   // kept in step with the scroll bars
    bool settingScrollBars = false;        // showing a bar resizes the client area
    char title[titleBufferSize] = {};
};

ShellState shell;

// A failed load leaves no DIB: then nothing is shown and the picker stays off.
bool pictureLoaded() { return !shell.picture.dib.empty(); }

constexpr int bandExtentOffset = 280;
constexpr int scrollLine = 16;  // pixels per arrow click

void readClientRect(HWND window) {
    GetClientRect(window, &shell.clientRect);
    shell.bandExtent = shell.clientRect.right - bandExtentOffset;
}

HWND createChild(HWND parent, const char* className, const char* text, DWORD style, int id) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE));
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

// 保存 is offered only while there is a picture to save.
void enableSave(HWND window) {
    const UINT state = pictureLoaded() ? MF_ENABLED : MF_GRAYED;
    EnableMenuItem(GetMenu(window), IDM_SAVE, MF_BYCOMMAND | state);
}

void onCreate(HWND window) {
    shell.transparentGif = 0;
    readClientRect(window);
    DragAcceptFiles(window, TRUE);
    shell.checkBox =
        createChild(window, "BUTTON", texts::checkBoxText, BS_CHECKBOX | WS_TABSTOP, IDC_TRANSPARENT_CHECK);
    shell.emptyStatic = createChild(window, "STATIC", "", 0, IDC_EMPTY_STATIC);
    shell.colourLabel = createChild(window, "STATIC", texts::colourLabelText, 0, IDC_COLOUR_LABEL);
    enableSave(window);
}

// The smallest window that still shows the well whole, beside a scroll bar.
void onGetMinMaxInfo(MINMAXINFO* limits) {
    RECT smallest{0, 0, swatchLeft + swatchSize + 2 + GetSystemMetrics(SM_CXVSCROLL),
                  toolBandHeight + GetSystemMetrics(SM_CYHSCROLL) + 8};
    AdjustWindowRectEx(&smallest, WS_OVERLAPPEDWINDOW, TRUE, 0);
    limits->ptMinTrackSize = {smallest.right - smallest.left, smallest.bottom - smallest.top};
}

// The picture's size, or none.
SIZE pictureSize() {
    if (!pictureLoaded()) return {0, 0};
    const DibHeader header = pictureHeader(shell.picture);
    return {header.biWidth, header.biHeight};
}

// Sets one bar's range to the picture's extent and its page to the view's,
// which hides it when the picture fits; keeps the position the bar settles on.
void setScrollBar(HWND window, int bar, int extent, int view, int& position) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = std::max(extent - 1, 0);
    info.nPage = static_cast<UINT>(std::max(view, 1));
    info.nPos = position;
    SetScrollInfo(window, bar, &info, TRUE);
    info.fMask = SIF_POS;
    GetScrollInfo(window, bar, &info);
    position = info.nPos;
}

// The view is the client area below the band. Showing or hiding one bar
// narrows or widens the view of the other, so settle them until the client
// area stays the same.
void updateScrollBars(HWND window) {
    if (shell.settingScrollBars || IsIconic(window)) return;
    shell.settingScrollBars = true;
    const SIZE picture = pictureSize();
    for (int pass = 0; pass < 3; ++pass) {
        RECT before;
        GetClientRect(window, &before);
        setScrollBar(window, SB_HORZ, picture.cx, before.right, shell.scroll.x);
        setScrollBar(window, SB_VERT, picture.cy, before.bottom - pictureTop, shell.scroll.y);
        RECT after;
        GetClientRect(window, &after);
        if (EqualRect(&before, &after)) break;
    }
    shell.settingScrollBars = false;
    readClientRect(window);
}

// Moves one bar as a scroll message asks and repaints the view if it moved.
void scrollBy(HWND window, int bar, WPARAM wParam) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(window, bar, &info);
    const int page = static_cast<int>(info.nPage);
    int position = info.nPos;
    switch (LOWORD(wParam)) {
    case SB_LINEUP: position -= scrollLine; break;
    case SB_LINEDOWN: position += scrollLine; break;
    case SB_PAGEUP: position -= page; break;
    case SB_PAGEDOWN: position += page; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: position = info.nTrackPos; break;
    case SB_TOP: position = info.nMin; break;
    case SB_BOTTOM: position = info.nMax; break;
    default: return;
    }
    int& offset = bar == SB_HORZ ? shell.scroll.x : shell.scroll.y;
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(window, bar, &info, TRUE);
    GetScrollInfo(window, bar, &info);
    if (info.nPos == offset) return;
    offset = info.nPos;
    const RECT view{0, pictureTop, shell.clientRect.right, shell.clientRect.bottom};
    InvalidateRect(window, &view, TRUE);
}

void onMouseWheel(HWND window, WPARAM wParam) {
    const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
    for (int i = 0; i < std::abs(notches) * 3; ++i) scrollBy(window, SB_VERT, notches > 0 ? SB_LINEUP : SB_LINEDOWN);
}

void onSize(HWND window) {
    readClientRect(window);
    updateScrollBars(window);
    MoveWindow(shell.checkBox, 0, 0, 130, 23, TRUE);
    MoveWindow(shell.emptyStatic, 130, 0, 50, 23, TRUE);
    MoveWindow(shell.colourLabel, 130, 2, 50, 21, TRUE);
    InvalidateRect(window, nullptr, TRUE);
}

void onPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (pictureLoaded()) paintPicture(dc, shell.picture, shell.paletteHandle, shell.scroll);
    drawToolBand(dc, shell.bandExtent, shell.transparentColour);
    EndPaint(window, &paint);
}

// The picker only listens while there is a picture and transparent mode is on.
bool pickerActive() { return pictureLoaded() && shell.transparentGif == 1; }

void onMouseMove(HWND window, LPARAM lParam) {
    if (pickerActive()) pickerMouseMove(window, shell.dropperCursor, lParam, shell.picture, shell.scroll);
}

void onLeftButtonDown(HWND window, LPARAM lParam) {
    if (pickerActive())
        pickerButtonDown(window, shell.dropperCursor, lParam, shell.picture, shell.scroll, shell.transparentColour);
}

void onLeftButtonUp(HWND window, LPARAM lParam) {
    if (pickerActive()) pickerButtonUp(window, shell.dropperCursor, lParam, shell.picture, shell.scroll);
}

// A UTF-8 name as the window's code-page-932 texts can show it: a character
// that code page cannot spell becomes a stand-in.
std::string cp932Name(const std::string& name) {
    const std::wstring wide = widePath(name.c_str());
    const int length = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, "?", nullptr);
    std::string text(static_cast<std::size_t>(std::max(length, 1)), '\0');
    WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, text.data(), length, "?", nullptr);
    text.resize(text.size() - 1);
    return text;
}

// One box for what an Open or a Save has to tell: the sentence for it, then
// the file's name and the reason (if any) on a line of their own.
void showBox(HWND window, const char* sentence, const std::string& path, const std::string& why) {
    std::string name = path;
    name.resize(stripDirectory(name.data(), utf8WindowsPaths));
    const std::string text = std::string(sentence) + "\r\n" + cp932Name(name) + (why.empty() ? "" : ": " + why);
    MessageBoxA(window, text.c_str(), texts::appTitle, MB_OK | MB_ICONWARNING);
}

const char* loadFailureText(LoadFailure failure) {
    switch (failure) {
    case LoadFailure::cannotOpen: return texts::cannotOpenText;
    case LoadFailure::notThisType: return texts::notThisTypeText;
    case LoadFailure::tooLarge: return texts::tooLargeText;
    case LoadFailure::noMemory: return texts::noMemoryText;
    default: return texts::damagedText;
    }
}

void onDropFiles(HWND window, HDROP drop) {
    std::wstring path(DragQueryFileW(drop, 0, nullptr, 0), L'\0');
    if (!path.empty()) DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
    DragFinish(drop);
    if (!path.empty()) openFileByName(window, utf8FromWide(path.c_str()));
}

void onOpen(HWND window) {
    if (!chooseOpenFile(shell.picture, shell.shownPath, shell.openFilterIndex, window)) return;
    loadChosenPicture(window, shell.picture.path, shell.picture.fileType);
}

void onSave(HWND window) {
    // Without a picture there is nothing to write, so no dialog either.
    if (!pictureLoaded()) return;
    std::string path;
    GifOptions options;
    if (!chooseSaveFile(shell.proposal, path, window, options)) return;
    // A colour kept from another picture that this one lacks would make
    // whatever the nearest table entry is transparent: save without.
    const TransparentColour colour = shell.transparentColour;
    const bool transparent =
        shell.transparentGif == 1 && pictureHasColour(shell.picture, {colour.red, colour.green, colour.blue, 0});
    // The overwrite question does not ask about a read-only file, and the
    // system may replace one anyway: refuse it, as the converter does.
    const DWORD attributes = GetFileAttributesW(widePath(path.c_str()).c_str());
    std::string why;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        showBox(window, texts::cannotWriteText, path, "the file is read-only");
    else if (!writeGif(shell.picture, path.c_str(), transparent ? 1 : 0, shell.transparentColour, &why, options))
        showBox(window, texts::cannotWriteText, path, why);
    else if (shell.transparentGif == 1 && !transparent)
        showBox(window, texts::colourAbsentText, path, "");
    InvalidateRect(window, nullptr, TRUE);
}

void onCommand(HWND window, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDM_OPEN: onOpen(window); break;
    case IDM_SAVE: onSave(window); break;
    case IDM_EXIT: SendMessageA(window, WM_CLOSE, 0, 0); break;
    case IDM_README: ShellExecuteA(nullptr, "open", "readme.txt", nullptr, nullptr, SW_SHOWNORMAL); break;
    case IDM_VERSION:
        DialogBoxParamA(GetModuleHandleA(nullptr), ABOUT_DIALOG_NAME, window, aboutDialogProc,
                        reinterpret_cast<LPARAM>(shell.aboutBitmap));
        break;
    case IDC_TRANSPARENT_CHECK: toggleTransparentGif(window, shell.checkBox, shell.transparentGif); break;
    default: break;
    }
}

void onClose(HWND window) {
    if (shell.aboutBitmap) {
        DeleteObject(shell.aboutBitmap);
        shell.aboutBitmap = nullptr;
    }
    DestroyWindow(window);
}

void onDestroy() { PostQuitMessage(0); }

// Which item of its archive the loaded picture is (1-based) and how many the
// archive holds; 0 and 0 when that cannot be told.
std::pair<std::size_t, std::size_t> archivePlace(const Picture& picture) {
    const FilePtr file = openFile(picture.path.c_str(), "rb");
    const std::int64_t length = file ? measureFile(file.get()) : -1;
    if (length < 0) return {0, 0};
    const std::vector<ArchiveItem> items = listArchiveItems(file.get(), length);
    // The offset has moved on to the next item, or back to 0 after the last.
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].offset == picture.archiveOffset) return {i == 0 ? items.size() : i, items.size()};
    return {0, 0};
}

// The title's name and Save's proposal for the picture just loaded: an
// archive's item carries its number, as the converter numbers them.
void nameLoadedPicture(std::string& name) {
    std::string base = shell.picture.path;
    base.resize(cutExtension(base.data(), utf8WindowsPaths));
    shell.proposal = base + ".gif";
    if (shell.picture.fileType != FileType::archive) return;
    const auto [number, count] = archivePlace(shell.picture);
    if (number == 0) return;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, " %zu/%zu", number, count);
    name += suffix;
    std::snprintf(suffix, sizeof suffix, "-%03zu.gif", number);
    shell.proposal = base + suffix;
}

// Releases the picture and its GDI palette.
void dropPicture() {
    releasePicture(shell.picture);
    if (shell.paletteHandle) {
        DeleteObject(shell.paletteHandle);
        shell.paletteHandle = nullptr;
    }
}

}  // namespace

void loadShellResources(HINSTANCE instance) {
    shell.aboutBitmap = LoadBitmapA(instance, ABOUT_BITMAP_NAME);
    shell.dropperCursor = LoadCursorA(instance, DROPPER_CURSOR_NAME);
}

ATOM registerMainClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APP_ICON));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszMenuName = MENU_NAME;
    windowClass.lpszClassName = mainClassName;
    return RegisterClassExA(&windowClass);
}

HWND createMainWindow(HINSTANCE instance, int x, int y, int showCommand) {
    HWND window = CreateWindowExA(0, mainClassName, texts::appTitle, WS_OVERLAPPEDWINDOW, x, y, 400, 300,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return window;
}

void loadChosenPicture(HWND window, const std::string& path, FileType fileType) {
    dropPicture();
    shell.picture.path = path;
    shell.picture.fileType = fileType;
    std::string why;
    LoadFailure failure = LoadFailure::none;
    const bool loaded = loadPictureAsItIs(shell.picture, &why, &failure) != 0;
    if (loaded) shell.paletteHandle = createPicturePalette(shell.picture);
    // The title names the chosen file even when it could not be read.
    std::string name = shell.picture.path;
    name.resize(stripDirectory(name.data(), utf8WindowsPaths));
    shell.proposal.clear();
    if (loaded) {
        shell.shownPath = shell.picture.path;
        nameLoadedPicture(name);
    }
    formatTitle(shell.title, cp932Name(name).c_str());
    enableSave(window);
    SetWindowTextA(window, shell.title);
    // A new picture starts at its top-left corner.
    shell.scroll = {};
    updateScrollBars(window);
    InvalidateRect(window, nullptr, TRUE);
    if (!loaded) showBox(window, loadFailureText(failure), path, why);
}

void openFileByName(HWND window, const std::string& path) {
    loadChosenPicture(window, path, fileTypeFromName(path.c_str()));
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: onCreate(window); return 0;
    case WM_SIZE: onSize(window); return 0;
    case WM_PAINT: onPaint(window); return 0;
    case WM_MOUSEMOVE: onMouseMove(window, lParam); return 0;
    case WM_LBUTTONDOWN: onLeftButtonDown(window, lParam); return 0;
    case WM_LBUTTONUP: onLeftButtonUp(window, lParam); return 0;
    case WM_HSCROLL: scrollBy(window, SB_HORZ, wParam); return 0;
    case WM_VSCROLL: scrollBy(window, SB_VERT, wParam); return 0;
    case WM_MOUSEWHEEL: onMouseWheel(window, wParam); return 0;
    case WM_DROPFILES: onDropFiles(window, reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_GETMINMAXINFO: onGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam)); return 0;
    case WM_COMMAND: onCommand(window, wParam); return 0;
    case WM_CLOSE: onClose(window); return 0;
    case WM_DESTROY: onDestroy(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace quolb
