#include "app/view.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

namespace quolb {

HPALETTE createPicturePalette(const Picture& picture) {
    // LOGPALETTE declares one entry; this record has room for all 256.
    struct {
        WORD palVersion;
        WORD palNumEntries;
        PALETTEENTRY palPalEntry[256];
    } description{};
    const PaletteEntry* entries = picture.palette.data();
    std::size_t count = picture.palette.size();
    if (count == 0) {
        entries = DefaultPalette.data();
        count = DefaultPalette.size();
    }
    count = std::min<std::size_t>(count, 256);
    description.palVersion = 0x300;
    description.palNumEntries = static_cast<WORD>(count);
    for (std::size_t i = 0; i < count; ++i)
        description.palPalEntry[i] = {entries[i].red, entries[i].green, entries[i].blue, 0};
    return CreatePalette(reinterpret_cast<const LOGPALETTE*>(&description));
}

void paintPicture(HDC dc, const Picture& picture, HPALETTE palette, ScrollOffset scroll) {
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, 0, pictureTop, INT_MAX / 2, INT_MAX / 2);
    if (palette) {
        SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    // Every loader leaves the block in the one form GDI reads as it stands:
    // a 40-byte header, colorCount table entries, plain bottom-up rows.
    const DibHeader header = pictureHeader(picture);
    SetDIBitsToDevice(dc, -scroll.x, pictureTop - scroll.y, static_cast<DWORD>(header.biWidth),
                      static_cast<DWORD>(header.biHeight), 0, 0, 0, static_cast<UINT>(header.biHeight),
                      pixelRows(picture).data(), reinterpret_cast<const BITMAPINFO*>(picture.dib.data()),
                      DIB_RGB_COLORS);
    RestoreDC(dc, saved);
}

void drawToolBand(HDC dc, int bandExtent, TransparentColour colour) {
    RECT well;
    RECT band;
    SetRect(&well, wellFrameRect.left, wellFrameRect.top, wellFrameRect.right, wellFrameRect.bottom);
    SetRect(&band, bandLeft, 0, bandExtent + bandRightBeyondExtent, toolBandHeight);
    DrawEdge(dc, &band, BDR_SUNKENINNER, BF_MIDDLE);
    DrawFrameControl(dc, &well, DFC_BUTTON, DFCS_BUTTONCHECK);
    const RECT swatch{swatchLeft, swatchTop, swatchLeft + swatchSize, swatchTop + swatchSize};
    HBRUSH brush = CreateSolidBrush(RGB(colour.red, colour.green, colour.blue));
    FillRect(dc, &swatch, brush);
    DeleteObject(brush);
}

namespace {

struct ClientPoint {
    int x;
    int y;
};

// Both words unsigned, as the pick area's bounds expect.
ClientPoint pointOf(LPARAM lParam) {
    const auto bits = static_cast<std::uint32_t>(lParam);
    return {static_cast<int>(bits & 0xFFFF), static_cast<int>(bits >> 16)};
}

void showDropperIfInside(HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll) {
    if (isInPickArea(lParam, picture, scroll)) SetCursor(dropper);
}

}  // namespace

bool isInPickArea(LPARAM lParam, const Picture& picture, ScrollOffset scroll) {
    if (picture.dib.size() < dibHeaderSize) return false;
    const DibHeader header = pictureHeader(picture);
    const ClientPoint point = pointOf(lParam);
    if (point.y < pictureTop) return false;  // the band hides what is scrolled under it
    const int x = point.x + scroll.x;
    const int y = point.y - pictureTop + scroll.y;
    return x >= 0 && x < header.biWidth && y >= 0 && y < header.biHeight;
}

void pickerMouseMove(HWND, HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll) {
    showDropperIfInside(dropper, lParam, picture, scroll);
}

void pickerButtonUp(HWND, HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll) {
    showDropperIfInside(dropper, lParam, picture, scroll);
}

void pickerButtonDown(HWND window, HCURSOR dropper, LPARAM lParam, const Picture& picture, ScrollOffset scroll,
                      TransparentColour& picked) {
    HDC dc = GetDC(window);
    if (isInPickArea(lParam, picture, scroll)) {
        const ClientPoint point = pointOf(lParam);
        // The colour on screen, as the user sees it, not the picture's index.
        const COLORREF colour = GetPixel(dc, point.x, point.y);
        picked = {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
        SetCursor(dropper);
        for (int x = swatchLeft; x < swatchLeft + swatchSize; ++x)
            for (int y = swatchTop; y < swatchTop + swatchSize; ++y) SetPixelV(dc, x, y, colour);
    } else {
        InvalidateRect(window, nullptr, TRUE);
    }
    ReleaseDC(window, dc);
}

void toggleTransparentGif(HWND window, HWND checkBox, int& transparentGif) {
    // A plain BS_CHECKBOX leaves its check mark to the program.
    const LRESULT state = SendMessageA(checkBox, BM_GETCHECK, 0, 0);
    if (state == BST_UNCHECKED) {
        SendMessageA(checkBox, BM_SETCHECK, BST_CHECKED, 0);
        transparentGif = 1;
    } else if (state == BST_CHECKED) {
        SendMessageA(checkBox, BM_SETCHECK, BST_UNCHECKED, 0);
        transparentGif = 0;
    }
    InvalidateRect(window, nullptr, TRUE);
}

}  // namespace quolb
