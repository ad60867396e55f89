#include "app/view.h"

#include <algorithm>
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

void paintPicture(HDC dc, const Picture& picture, HPALETTE palette) {
    if (palette) {
        SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    // Every loader leaves the block in the one form GDI reads as it stands:
    // a 40-byte header, colorCount table entries, plain bottom-up rows.
    const DibHeader header = pictureHeader(picture);
    SetDIBitsToDevice(dc, 0, pictureTop, static_cast<DWORD>(header.biWidth), static_cast<DWORD>(header.biHeight), 0,
                      0, 0, static_cast<UINT>(header.biHeight), pixelRows(picture).data(),
                      reinterpret_cast<const BITMAPINFO*>(picture.dib.data()), DIB_RGB_COLORS);
}

void drawToolBand(HDC dc, int bandExtent) {
    RECT well;
    RECT band;
    SetRect(&well, wellFrameRect.left, wellFrameRect.top, wellFrameRect.right, wellFrameRect.bottom);
    SetRect(&band, bandLeft, 0, bandExtent + bandRightBeyondExtent, toolBandHeight);
    DrawEdge(dc, &band, BDR_SUNKENINNER, BF_MIDDLE);
    DrawFrameControl(dc, &well, DFC_BUTTON, DFCS_BUTTONCHECK);
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

void showDropperIfInside(HCURSOR dropper, LPARAM lParam, const Picture& picture) {
    if (isInPickArea(lParam, picture)) SetCursor(dropper);
}

}  // namespace

bool isInPickArea(LPARAM lParam, const Picture& picture) {
    if (picture.dib.size() < dibHeaderSize) return false;
    const DibHeader header = pictureHeader(picture);
    const ClientPoint point = pointOf(lParam);
    return point.x > 0 && point.x < header.biWidth && point.y > pictureTop && point.y < header.biHeight + pictureTop;
}

void pickerMouseMove(HWND, HCURSOR dropper, LPARAM lParam, const Picture& picture) {
    showDropperIfInside(dropper, lParam, picture);
}

void pickerButtonUp(HWND, HCURSOR dropper, LPARAM lParam, const Picture& picture) {
    showDropperIfInside(dropper, lParam, picture);
}

void pickerButtonDown(HWND window, HCURSOR dropper, LPARAM lParam, const Picture& picture,
                      TransparentColour& picked) {
    HDC dc = GetDC(window);
    if (isInPickArea(lParam, picture)) {
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
