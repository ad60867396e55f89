// The About box: the "CBIT" picture blitted over the dialog, and an OK button.
#include "app/about.h"

namespace quolb {

namespace {

constexpr int aboutPictureWidth = 336;
constexpr int aboutPictureHeight = 110;

void paintAbout(HWND dialog) {
    const auto bitmap = reinterpret_cast<HBITMAP>(GetWindowLongPtrA(dialog, DWLP_USER));
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(dc, 0, 0, aboutPictureWidth, aboutPictureHeight, memory, 0, 0, SRCCOPY);
    EndPaint(dialog, &paint);
    // Put the bitmap back out of the context so it can still be deleted later.
    SelectObject(memory, previous);
    DeleteDC(memory);
}

}  // namespace

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: SetWindowLongPtrA(dialog, DWLP_USER, lParam); return FALSE;
    case WM_PAINT: paintAbout(dialog); return FALSE;
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {  // OK, Enter or Escape
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace quolb
