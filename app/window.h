// The main window: its class, its procedure and the state it keeps for the
// whole run. One window, one thread.
#pragma once

#include <windows.h>

#include "image/picture.h"
#include "gif/writer.h"

namespace quolb {

// Everything the shell owns from start-up to exit.
struct ShellState {
    Picture picture;
    HPALETTE paletteHandle = nullptr;  // picture.palette as a GDI palette
    int pictureLoaded = 0;                 // 1 while picture.dib holds a picture
    int transparentGif = 0;
    TransparentColour transparentColour;   // black until the first pick
    int bandExtent = 0;                    // client width - 280
    HBITMAP aboutBitmap = nullptr;
    HCURSOR dropperCursor = nullptr;
    HWND checkBox = nullptr;
    HWND emptyStatic = nullptr;
    HWND colourLabel = nullptr;
    RECT clientRect{};
    char title[256] = {};
};

extern ShellState shell;

inline constexpr char mainClassName[] = "wexo";

// Loads the About bitmap and the eyedropper cursor from `instance`.
void loadShellResources(HINSTANCE instance);
ATOM registerMainClass(HINSTANCE instance);
// Creates the 400 x 300 main window at x, y, shows and paints it; returns
// it, or null.
HWND createMainWindow(HINSTANCE instance, int x, int y, int showCommand);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// What Open does once the dialog has set picture.path and picture.fileType:
// replace the picture, set the title, repaint.
void loadChosenPicture(HWND window);
// Makes the GDI palette for a freshly loaded picture and decides whether
// there is a picture to show and pick from.
void adoptPicture();
// Releases the picture and its GDI palette.
void dropPicture();

}  // namespace quolb
