// The main window driven by messages under Wine: the procedure, the picker
// and the resources, without the common dialogs (a hook stops them).
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "image/byte_reader.h"
#include "res/resource.h"
#include "app/texts.h"
#include "app/window.h"

namespace quolb {
namespace {

HINSTANCE instance() { return GetModuleHandleA(nullptr); }

// Stops every dialog box before it appears and counts the attempts, so a
// command that would open one returns at once instead of waiting for a user.
int dialogsStopped = 0;
LRESULT CALLBACK stopDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs->lpszClass == MAKEINTATOM(32770))
        return ++dialogsStopped;  // non-zero: the dialog is not created
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::string windowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// One flow on one window: under Wine without a window manager each
// DestroyWindow of a shown window waits about two seconds.
TEST(MainWindow, PlacesTheBandPicksOnlyInsideAPictureAndTitlesOpens) {
    registerMainClass(instance());
    loadShellResources(instance());
    HWND window = createMainWindow(instance(), 40, 40, SW_SHOWNORMAL);
    if (!window) GTEST_SKIP() << "no window can be created here (no display?)";
    SetWindowsHookExA(WH_CBT, stopDialogs, nullptr, GetCurrentThreadId());
    const auto command = [window](WPARAM id) {
        SendMessageA(window, WM_COMMAND, id, 0);
        UpdateWindow(window);
    };
    const auto clickAndPick = [window](int x, int y) {
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        return RGB(shell.transparentColour.red, shell.transparentColour.green, shell.transparentColour.blue);
    };
    EXPECT_EQ(windowText(window), texts::appTitle);
    SetWindowPos(window, nullptr, 0, 0, 520, 380, SWP_NOMOVE | SWP_NOZORDER);
    std::vector<LONG> places;
    for (HWND control : {shell.checkBox, shell.emptyStatic, shell.colourLabel}) {
        RECT place;
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        places.insert(places.end(), {place.left, place.top, place.right, place.bottom});
    }
    EXPECT_EQ(places, (std::vector<LONG>{0, 0, 130, 23, 130, 0, 180, 23, 130, 2, 180, 23}));

    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 0) << "save before any picture does nothing";
    // 40 x 30 pixels of colour 10, (10, 245, 5), but the bottom-right one,
    // colour 200, (200, 55, 100); the first row stored is the bottom one.
    ASSERT_EQ(allocateDib(shell.picture, 40, 30, 8, 256, nullptr), 1);
    std::uint8_t* table = shell.picture.dib.data() + dibHeaderSize;
    storeU32(table + 4 * 10, 0x0AF505);
    storeU32(table + 4 * 200, 0xC83764);
    std::fill(table + 1024, table + 1024 + shell.picture.imageSize, std::uint8_t{10});
    table[1024 + 39] = 200;
    buildPalette(shell.picture);
    adoptPicture();
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 1) << "save of a picture asks for a name";
    EXPECT_EQ(clickAndPick(39, 52), RGB(0, 0, 0)) << "swallowed while transparent mode is off";
    // Any command from the check box flips the mode, a double click too.
    command(MAKEWPARAM(IDC_TRANSPARENT_CHECK, BN_DOUBLECLICKED));
    EXPECT_EQ(SendMessageA(shell.checkBox, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(clickAndPick(0, 40), RGB(0, 0, 0)) << "the left column is outside";
    EXPECT_EQ(clickAndPick(20, 23), RGB(0, 0, 0)) << "the top row is outside";
    UpdateWindow(window);
    EXPECT_EQ(clickAndPick(39, 52), RGB(200, 55, 100));
    HDC dc = GetDC(window);
    EXPECT_EQ(GetPixel(dc, 200, 10), RGB(200, 55, 100)) << "the swatch shows the picked colour";
    ReleaseDC(window, dc);

    command(IDC_TRANSPARENT_CHECK);
    command(IDC_TRANSPARENT_CHECK);
    // 表示.bmp: the second byte of 表 is 0x5C, which is not a backslash here.
    shell.picture.path = "Z:\\no-such-folder\\\x95\x5C\x8E\xA6.bmp";
    shell.picture.fileType = FileType::bitmap;
    loadChosenPicture(window);
    EXPECT_EQ(clickAndPick(39, 52), RGB(200, 55, 100)) << "a toggle and a new Open keep the colour";
    EXPECT_EQ(windowText(window), std::string(texts::titlePrefix) + "\x95\x5C\x8E\xA6.bmp]");
    // An odd name: the pair that would end at the limit is left out whole.
    shell.picture.path = "Z:\\a";
    while (shell.picture.path.size() < 253) shell.picture.path += "\x95\x5C";
    loadChosenPicture(window);
    const std::string title = windowText(window);
    EXPECT_EQ(title.size(), 254u);
    EXPECT_EQ(title.substr(title.size() - 3), "\x95\x5C]");
    dropPicture();
}

// The resources compiled from the code-page-932 script against the readable
// texts: the menu labels in order, and the About box's caption and font after
// its no-menu and standard-class words.
TEST(Resources, MenuAndAboutBoxHoldTheCodePage932Texts) {
    HMENU menu = LoadMenuA(instance(), MENU_NAME);
    std::wstring labels;
    for (HMENU owner : {menu, GetSubMenu(menu, 0), GetSubMenu(menu, 1)})
        for (int i = 0; i < GetMenuItemCount(owner); ++i) {
            wchar_t text[64] = {};
            GetMenuStringW(owner, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
            labels += text + std::wstring(L"|");
        }
    EXPECT_EQ(labels, L"ﾌｧｲﾙ(&F)|ﾍﾙﾌﾟ(&H)|開く(&O)|保存(&S)|終了(&E)|ﾘｰﾄﾞﾐー(&R)|ﾊﾞｰｼﾞｮﾝ情報(&V)|");
    DestroyMenu(menu);
    HRSRC found = FindResourceA(instance(), ABOUT_DIALOG_NAME, MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const auto* words = reinterpret_cast<const wchar_t*>(
                            static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(instance(), found))) + 1) + 2;
    EXPECT_EQ(std::wstring(words), L"ﾊﾞｰｼﾞｮﾝ情報");
    EXPECT_EQ(std::wstring(words + std::wcslen(words) + 2), L"ＭＳ Ｐゴシック");  // after its NUL and point size
}

}  // namespace
}  // namespace quolb
