#include "app/window.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/about.h"
#include "app/dialogs.h"
#include "app/texts.h"
#include "app/title.h"
#include "app/view.h"
#include "gif/writer.h"
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

void onCreate(HWND window) {
    shell.transparentGif = 0;
    readClientRect(window);
    DragAcceptFiles(window, TRUE);
    shell.checkBox = createChild(window, "BUTTON", texts::checkBoxText, BS_CHECKBOX, IDC_TRANSPARENT_CHECK);
    shell.emptyStatic = createChild(window, "STATIC", "", 0, IDC_EMPTY_STATIC);
    shell.colourLabel = createChild(window, "STATIC", texts::colourLabelText, 0, IDC_COLOUR_LABEL);
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
    drawToolBand(dc, shell.bandExtent);
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

// One box for a failed Open or Save: the sentence for its kind, then the
// file's name and the reason on a line of their own.
void showFailure(HWND window, const char* sentence, const std::string& path, const std::string& why) {
    std::string name = path;
    name.resize(stripDirectory(name.data()));
    const std::string text = std::string(sentence) + "\r\n" + name + ": " + why;
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
    std::string path(DragQueryFileA(drop, 0, nullptr, 0), '\0');
    if (!path.empty()) DragQueryFileA(drop, 0, path.data(), static_cast<UINT>(path.size() + 1));
    DragFinish(drop);
    if (!path.empty()) openFileByName(window, path);
}

void onOpen(HWND window) {
    if (!chooseOpenFile(shell.picture, window)) return;
    loadChosenPicture(window, shell.picture.path, shell.picture.fileType);
}

void onSave(HWND window) {
    // Without a picture there is nothing to write, so no dialog either.
    if (!pictureLoaded()) return;
    char path[pathBufferSize];
    if (!chooseSaveFile(shell.picture, path, window)) return;
    // The overwrite question does not ask about a read-only file, and the
    // system may replace one anyway: refuse it, as the converter does.
    const DWORD attributes = GetFileAttributesA(path);
    std::string why;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        showFailure(window, texts::cannotWriteText, path, "the file is read-only");
    else if (!writeGif(shell.picture, path, shell.transparentGif, shell.transparentColour, &why))
        showFailure(window, texts::cannotWriteText, path, why);
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
    name.resize(stripDirectory(name.data()));
    formatTitle(shell.title, name.c_str());
    SetWindowTextA(window, shell.title);
    // A new picture starts at its top-left corner.
    shell.scroll = {};
    updateScrollBars(window);
    InvalidateRect(window, nullptr, TRUE);
    if (!loaded) showFailure(window, loadFailureText(failure), path, why);
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
    case WM_COMMAND: onCommand(window, wParam); return 0;
    case WM_CLOSE: onClose(window); return 0;
    case WM_DESTROY: onDestroy(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace quolb
