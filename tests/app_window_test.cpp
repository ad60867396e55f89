// The main window driven by messages under Wine: the procedure, the picker
// and the resources, without the common dialogs (a hook stops them).
#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "resource.h"
#include "texts.h"
#include "window.h"

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

// One window serves the whole suite: under Wine without a window manager
// each DestroyWindow of a shown window waits about two seconds.
class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        registerMainClass(instance());
        loadShellResources(instance());
        window = createMainWindow(instance(), 40, 40, SW_SHOWNORMAL);
        SetWindowsHookExA(WH_CBT, stopDialogs, nullptr, GetCurrentThreadId());
    }
    void SetUp() override {
        if (!window) GTEST_SKIP() << "no window can be created here (no display?)";
    }
    void TearDown() override { dropPicture(); }

    void command(WPARAM id) {
        SendMessageA(window, WM_COMMAND, id, 0);
        UpdateWindow(window);
    }
    void click(int x, int y) {
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    COLORREF picked() const {
        return RGB(shell.transparentColour.red, shell.transparentColour.green, shell.transparentColour.blue);
    }

    static inline HWND window = nullptr;
};

TEST_F(MainWindow, StartsOffKeepsTheBandControlsInPlaceAndFlipsTheModeOn301) {
    EXPECT_EQ(windowText(window), texts::appTitle);
    EXPECT_EQ(shell.pictureLoaded, 0);
    SetWindowPos(window, nullptr, 0, 0, 520, 380, SWP_NOMOVE | SWP_NOZORDER);
    std::vector<LONG> places;
    for (HWND control : {shell.checkBox, shell.emptyStatic, shell.colourLabel}) {
        RECT place;
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        places.insert(places.end(), {place.left, place.top, place.right, place.bottom});
    }
    EXPECT_EQ(places, (std::vector<LONG>{0, 0, 130, 23, 130, 0, 180, 23, 130, 2, 180, 23}));
    for (const auto& [notification, mark] : {std::pair{BN_CLICKED, BST_CHECKED}, {BN_DOUBLECLICKED, BST_UNCHECKED}}) {
        command(MAKEWPARAM(IDC_TRANSPARENT_CHECK, notification));
        EXPECT_EQ(SendMessageA(shell.checkBox, BM_GETCHECK, 0, 0), mark);
        EXPECT_EQ(shell.transparentGif, mark == BST_CHECKED ? 1 : 0);
    }
}

TEST_F(MainWindow, SavesAndPicksOnlyWithAPictureKeepsTheColourAndTitlesOpens) {
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 0) << "save before any picture does nothing";
    // 40 x 30 pixels of colour 10 but the bottom-right one, colour 200;
    // colour i is (i, 255 - i, i / 2).
    ASSERT_EQ(allocateDib(shell.picture, 40, 30, 8, 256, nullptr), 1);
    auto* table = shell.picture.dib.data() + dibHeaderSize;
    for (int i = 0; i < 256; ++i) storeU32(table + 4 * i, static_cast<std::uint32_t>(i << 16 | (255 - i) << 8 | i / 2));
    std::fill(table + 4 * 256, table + 4 * 256 + shell.picture.imageSize, std::uint8_t{10});
    table[4 * 256 + 39] = 200;  // the first row stored is the bottom one
    buildPalette(shell.picture);
    adoptPicture();
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 1) << "save of a picture asks for a name";
    click(39, 52);
    EXPECT_EQ(picked(), RGB(0, 0, 0)) << "swallowed while transparent mode is off";
    command(IDC_TRANSPARENT_CHECK);
    click(0, 40);
    click(20, 23);
    EXPECT_EQ(picked(), RGB(0, 0, 0)) << "the left column and the top row are outside";
    UpdateWindow(window);
    const COLORREF pixel = RGB(200, 55, 100);
    click(39, 52);
    EXPECT_EQ(picked(), pixel);
    HDC dc = GetDC(window);
    EXPECT_EQ(GetPixel(dc, 200, 10), pixel) << "the swatch shows the picked colour";
    ReleaseDC(window, dc);

    command(IDC_TRANSPARENT_CHECK);
    command(IDC_TRANSPARENT_CHECK);
    // 表示.bmp: the second byte of 表 is 0x5C, which is not a backslash here.
    shell.picture.path = "Z:\\no-such-folder\\\x95\x5C\x8E\xA6.bmp";
    shell.picture.fileType = FileType::bitmap;
    loadChosenPicture(window);
    EXPECT_EQ(picked(), pixel) << "a toggle and a new Open keep the colour";
    EXPECT_EQ(windowText(window), std::string(texts::titlePrefix) + "\x95\x5C\x8E\xA6.bmp]");
    EXPECT_EQ(shell.pictureLoaded, 0);
    UpdateWindow(window);
    click(20, 40);
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE)) << "swallowed while there is no picture to pick from";

    // An odd name: the pair that would end at the limit is left out whole.
    shell.picture.path = "Z:\\a";
    while (shell.picture.path.size() < 253) shell.picture.path += "\x95\x5C";
    loadChosenPicture(window);
    const std::string title = windowText(window);
    EXPECT_EQ(title.size(), 254u);
    EXPECT_EQ(title.substr(title.size() - 3), "\x95\x5C]");
}

// The resources compiled from the code-page-932 script against the readable
// texts: the menu labels in order, and the About box's caption and font after
// its no-menu and standard-class words.
TEST(Resources, MenuAndAboutBoxHoldTheCodePage932Texts) {
    HMENU menu = LoadMenuA(instance(), MENU_NAME);
    std::vector<std::wstring> labels;
    for (HMENU owner : {menu, GetSubMenu(menu, 0), GetSubMenu(menu, 1)}) {
        for (UINT i = 0; i < static_cast<UINT>(GetMenuItemCount(owner)); ++i) {
            wchar_t text[64] = {};
            GetMenuStringW(owner, i, text, 64, MF_BYPOSITION);
            labels.emplace_back(text);
        }
    }
    EXPECT_EQ(labels, (std::vector<std::wstring>{L"ﾌｧｲﾙ(&F)", L"ﾍﾙﾌﾟ(&H)", L"開く(&O)", L"保存(&S)", L"終了(&E)",
                                                 L"ﾘｰﾄﾞﾐー(&R)", L"ﾊﾞｰｼﾞｮﾝ情報(&V)"}));
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
