// Entry of the desktop tool: resources, window class, main window, message loop.
#include <windows.h>

#include "app/window.h"

namespace {

// The top-left corner that centres the 400 x 300 window on the primary screen.
const int windowX = GetSystemMetrics(SM_CXSCREEN) / 2 - 200;
const int windowY = GetSystemMetrics(SM_CYSCREEN) / 2 - 150;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    quolb::loadShellResources(instance);
    if (!quolb::registerMainClass(instance)) return 0;
    if (!quolb::createMainWindow(instance, windowX, windowY, showCommand)) return 0;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
