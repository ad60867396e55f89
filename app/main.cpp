// Entry of the desktop tool: resources, window class, main window, message loop.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "app/window.h"
#include "res/resource.h"

namespace {

// The top-left corner that centres the 400 x 300 window on the primary screen.
const int windowX = GetSystemMetrics(SM_CXSCREEN) / 2 - 200;
const int windowY = GetSystemMetrics(SM_CYSCREEN) / 2 - 150;

// The first argument, the file "Open with" or a drop on the icon names, in
// UTF-8 as the window keeps paths; empty when there is none.
std::string fileNamedOnCommandLine() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string path;
    if (arguments && count > 1) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, arguments[1], -1, nullptr, 0, nullptr, nullptr);
        if (size > 1) {
            path.resize(static_cast<std::size_t>(size));
            WideCharToMultiByte(CP_UTF8, 0, arguments[1], -1, path.data(), size, nullptr, nullptr);
            path.resize(static_cast<std::size_t>(size - 1));
        }
    }
    LocalFree(arguments);
    return path;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    quolb::loadShellResources(instance);
    if (!quolb::registerMainClass(instance)) return 0;
    HWND window = quolb::createMainWindow(instance, windowX, windowY, showCommand);
    if (!window) return 0;
    if (const std::string path = fileNamedOnCommandLine(); !path.empty()) quolb::openFileByName(window, path);

    HACCEL keys = LoadAcceleratorsA(instance, ACCELERATORS_NAME);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (TranslateAcceleratorA(window, keys, &message)) continue;
        // Tab and Space reach the tool band's check box as in a dialog.
        if (IsDialogMessageA(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
