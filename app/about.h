// The About box.
#pragma once

#include <windows.h>

namespace quolb {

// The dialog procedure; DialogBoxParamA's parameter is the HBITMAP to show.
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quolb
