// The main window: its class, its procedure and, private to window.cpp, the
// state it keeps for the whole run. One window, one thread.
#pragma once

#include <windows.h>

#include <string>

#include "image/picture.h"

namespace quolb {

inline constexpr char mainClassName[] = "wexo";

// Loads the About bitmap and the eyedropper cursor from `instance`.
void loadShellResources(HINSTANCE instance);
ATOM registerMainClass(HINSTANCE instance);
// Creates the 400 x 300 main window at x, y, shows and paints it; returns
// it, or null.
HWND createMainWindow(HINSTANCE instance, int x, int y, int showCommand);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What Open does once the dialog has chosen a file: replace the picture with
// the one at `path`, read as `fileType` or, when that loader refuses a file
// whose first bytes say what it is, as that; set the title, repaint. A
// failure is said in a message box.
void loadChosenPicture(HWND window, const std::string& path, FileType fileType);

// What a dropped file or one named on the command line opens as: the type its
// name tells, else the one its bytes tell.
void openFileByName(HWND window, const std::string& path);

}  // namespace quolb
