#include "app/window.h"

#include <shellapi.h>

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
    char title[titleBufferSize] = {};
};

ShellState shell;

// A failed load leaves no DIB: then nothing is shown and the picker stays off.
bool pictureLoaded() { return !shell.picture.dib.empty(); }

constexpr int bandExtentOffset = 280;

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
    shell.checkBox = createChild(window, "BUTTON", texts::checkBoxText, BS_CHECKBOX, IDC_TRANSPARENT_CHECK);
    shell.emptyStatic = createChild(window, "STATIC", "", 0, IDC_EMPTY_STATIC);
    shell.colourLabel = createChild(window, "STATIC", texts::colourLabelText, 0, IDC_COLOUR_LABEL);
}

void onSize(HWND window) {
    readClientRect(window);
    MoveWindow(shell.checkBox, 0, 0, 130, 23, TRUE);
    MoveWindow(shell.emptyStatic, 130, 0, 50, 23, TRUE);
    MoveWindow(shell.colourLabel, 130, 2, 50, 21, TRUE);
    InvalidateRect(window, nullptr, TRUE);
}

void onPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (pictureLoaded()) paintPicture(dc, shell.picture, shell.paletteHandle);
    drawToolBand(dc, shell.bandExtent);
    EndPaint(window, &paint);
}

// The picker only listens while there is a picture and transparent mode is on.
bool pickerActive() { return pictureLoaded() && shell.transparentGif == 1; }

void onMouseMove(HWND window, LPARAM lParam) {
    if (pickerActive()) pickerMouseMove(window, shell.dropperCursor, lParam, shell.picture);
}

void onLeftButtonDown(HWND window, LPARAM lParam) {
    if (pickerActive())
        pickerButtonDown(window, shell.dropperCursor, lParam, shell.picture, shell.transparentColour);
}

void onLeftButtonUp(HWND window, LPARAM lParam) {
    if (pickerActive()) pickerButtonUp(window, shell.dropperCursor, lParam, shell.picture);
}

void onOpen(HWND window) {
    if (!chooseOpenFile(shell.picture, window)) return;
    loadChosenPicture(window, shell.picture.path, shell.picture.fileType);
}

void onSave(HWND window) {
    // Without a picture there is nothing to write, so no dialog either.
    if (!pictureLoaded()) return;
    char path[pathBufferSize];
    GifOptions options;
    if (!chooseSaveFile(shell.picture, path, window, options)) return;
    writeGif(shell.picture, path, shell.transparentGif, shell.transparentColour, nullptr, options);
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
    if (loadPicture(shell.picture)) shell.paletteHandle = createPicturePalette(shell.picture);
    // The title names the chosen file even when it could not be read.
    std::string name = shell.picture.path;
    name.resize(stripDirectory(name.data()));
    formatTitle(shell.title, name.c_str());
    SetWindowTextA(window, shell.title);
    InvalidateRect(window, nullptr, TRUE);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: onCreate(window); return 0;
    case WM_SIZE: onSize(window); return 0;
    case WM_PAINT: onPaint(window); return 0;
    case WM_MOUSEMOVE: onMouseMove(window, lParam); return 0;
    case WM_LBUTTONDOWN: onLeftButtonDown(window, lParam); return 0;
    case WM_LBUTTONUP: onLeftButtonUp(window, lParam); return 0;
    case WM_COMMAND: onCommand(window, wParam); return 0;
    case WM_CLOSE: onClose(window); return 0;
    case WM_DESTROY: onDestroy(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace quolb
