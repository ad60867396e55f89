// The main window's client area: the picture at (0, 23), the tool band along
// the top, and the eyedropper that picks the transparent colour.
#pragma once

#include <windows.h>

#include "image/picture.h"
#include "gif/writer.h"

namespace quolb {

// Tool-band geometry in client pixels.
inline constexpr int toolBandHeight = 23;
inline constexpr int pictureTop = 23;
inline constexpr RECT wellFrameRect{100, 0, 303, 23};
inline constexpr int bandLeft = 100;
inline constexpr int bandRightBeyondExtent = 560;  // band ends at bandExtent + 560
inline constexpr int swatchLeft = 192;
inline constexpr int swatchTop = 2;
inline constexpr int swatchSize = 19;

// A GDI palette made from the picture's palette entries (DefaultPalette when
// it has none), or null when it cannot be made.
HPALETTE createPicturePalette(const Picture& picture);

// How far the picture is scrolled: the picture pixel at the view's top-left
// corner, client (0, 23).
struct ScrollOffset {
    int x = 0;
    int y = 0;
};

// Both draw on the context of the window's one BeginPaint. The picture is
// clipped to the area below the tool band.
void paintPicture(HDC dc, const Picture& picture, HPALETTE palette, ScrollOffset scroll);
// The well always shows the colour in effect: black until the first pick.
void drawToolBand(HDC dc, int bandExtent, TransparentColour colour);

// Whether the client point in lParam (the unsigned low and high words) lies
// below the band on a pixel of the picture as scrolled. False when the
// picture holds no DIB.
bool isInPickArea(LPARAM lParam, const Picture& picture, ScrollOffset scroll);

void pickerMouseMove(HWND window, HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll);
void pickerButtonUp(HWND window, HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll);
// Inside the pick area: stores the colour shown there and fills the swatch
// with it. Outside: repaints the window, which empties the well.
void pickerButtonDown(HWND window, HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll,
                      TransparentColour& picked);

// Flips the check box and transparentGif together, then repaints.
void toggleTransparentGif(HWND window, HWND checkBox, int& transparentGif);

}  // namespace quolb
