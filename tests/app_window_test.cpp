// The main window driven by messages under Wine: the procedure, the picker
// and the resources, without the common dialogs (a hook stops them).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "texts.h"
#include "window.h"

namespace quolb {
namespace {

HINSTANCE instance() { return GetModuleHandleA(nullptr); }

void pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Stops every dialog box before it appears and counts the attempts, so a
// command that would open one returns at once instead of waiting for a user.
int dialogsStopped = 0;
LRESULT CALLBACK stopDialogs(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam);
        if (create->lpcs->lpszClass == MAKEINTATOM(32770) && create->lpcs->hwndParent != nullptr) {
            ++dialogsStopped;
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::string windowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT childPlace(HWND parent, HWND child) {
    RECT place;
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// An 8-bit picture whose pixels all show colour 10 but the bottom-right one,
// which shows colour 200; colour i is (i, 255 - i, i / 2).
constexpr int pictureWidth = 40;
constexpr int pictureHeight = 30;
constexpr COLORREF pixelColour = RGB(200, 55, 100);

void showTestPicture(HWND window) {
    ASSERT_EQ(allocateDib(shell.picture, pictureWidth, pictureHeight, 8, 256, nullptr), 1);
    for (int i = 0; i < 256; ++i) {
        auto* entry = shell.picture.dib.data() + dibHeaderSize + 4 * i;
        entry[0] = static_cast<std::uint8_t>(i / 2);
        entry[1] = static_cast<std::uint8_t>(255 - i);
        entry[2] = static_cast<std::uint8_t>(i);
    }
    auto* rows = shell.picture.dib.data() + dibHeaderSize + 4 * 256;
    std::fill(rows, rows + shell.picture.imageSize, std::uint8_t{10});
    rows[pictureWidth - 1] = 200;  // the first row stored is the bottom one
    buildPalette(shell.picture);
    adoptPicture();
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
}

// One window serves the whole suite: under Wine without a window manager
// each DestroyWindow of a shown window waits about two seconds. Each test
// starts from the state a fresh window has.
class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerMainClass(instance()); }
    static void TearDownTestSuite() {
        if (window && IsWindow(window)) DestroyWindow(window);
        pumpMessages();
        window = nullptr;
    }

    void SetUp() override {
        dropPicture();
        shell.picture = Picture{};
        shell.transparentColour = {};
        if (!window || !IsWindow(window)) {
            shell = ShellState{};
            loadShellResources(instance());
            window = createMainWindow(instance(), 40, 40, SW_SHOWNORMAL);
            if (!window) GTEST_SKIP() << "no window can be created here (no display?)";
        } else {
            if (shell.transparentGif) command(IDC_TRANSPARENT_CHECK);
            SetWindowTextA(window, texts::appTitle);
            SetWindowPos(window, nullptr, 40, 40, 400, 300, SWP_NOZORDER);
        }
        hook = SetWindowsHookExA(WH_CBT, stopDialogs, nullptr, GetCurrentThreadId());
        dialogsStopped = 0;
        pumpMessages();
        UpdateWindow(window);
    }

    void TearDown() override {
        if (hook) UnhookWindowsHookEx(hook);
        pumpMessages();
        dropPicture();
    }

    void command(int id, int notification = 0) {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, notification), 0);
        pumpMessages();
    }
    void click(int x, int y) {
        SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
    bool needsRepaint() { return GetUpdateRect(window, nullptr, FALSE) != 0; }
    COLORREF screenPixel(int x, int y) {
        HDC dc = GetDC(window);
        const COLORREF colour = GetPixel(dc, x, y);
        ReleaseDC(window, dc);
        return colour;
    }
    COLORREF picked() const {
        return RGB(shell.transparentColour.red, shell.transparentColour.green, shell.transparentColour.blue);
    }

    static inline HWND window = nullptr;
    HHOOK hook = nullptr;
};

TEST_F(MainWindow, StartsWithTheBandControlsAndTransparentModeOff) {
    EXPECT_EQ(windowText(window), texts::appTitle);
    EXPECT_EQ(shell.transparentGif, 0);
    EXPECT_EQ(shell.pictureLoaded, 0);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(shell.bandExtent, client.right - 280);

    EXPECT_EQ(GetDlgItem(window, IDC_TRANSPARENT_CHECK), shell.checkBox);
    EXPECT_EQ(GetDlgItem(window, IDC_EMPTY_STATIC), shell.emptyStatic);
    EXPECT_EQ(GetDlgItem(window, IDC_COLOUR_LABEL), shell.colourLabel);
    EXPECT_EQ(windowText(shell.checkBox), texts::checkBoxText);
    EXPECT_EQ(windowText(shell.emptyStatic), "");
    EXPECT_EQ(windowText(shell.colourLabel), texts::colourLabelText);
    EXPECT_EQ(GetWindowLongA(shell.checkBox, GWL_STYLE) & BS_TYPEMASK, BS_CHECKBOX);
    EXPECT_EQ(SendMessageA(shell.checkBox, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_NE(shell.aboutBitmap, nullptr);
    EXPECT_NE(shell.dropperCursor, nullptr);
}

TEST_F(MainWindow, ResizingPutsTheControlsBackAndRepaints) {
    SetWindowPos(window, nullptr, 0, 0, 520, 380, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(shell.bandExtent, client.right - 280);
    const RECT check = childPlace(window, shell.checkBox);
    const RECT empty = childPlace(window, shell.emptyStatic);
    const RECT label = childPlace(window, shell.colourLabel);
    EXPECT_EQ((std::vector<LONG>{check.left, check.top, check.right, check.bottom}), (std::vector<LONG>{0, 0, 130, 23}));
    EXPECT_EQ((std::vector<LONG>{empty.left, empty.top, empty.right, empty.bottom}), (std::vector<LONG>{130, 0, 180, 23}));
    EXPECT_EQ((std::vector<LONG>{label.left, label.top, label.right, label.bottom}), (std::vector<LONG>{130, 2, 180, 23}));
    EXPECT_TRUE(needsRepaint());
}

TEST_F(MainWindow, TheCheckBoxCommandFlipsTheMarkAndTheMode) {
    command(IDC_TRANSPARENT_CHECK, BN_CLICKED);
    EXPECT_EQ(SendMessageA(shell.checkBox, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(shell.transparentGif, 1);
    command(IDC_TRANSPARENT_CHECK, BN_DOUBLECLICKED);
    EXPECT_EQ(SendMessageA(shell.checkBox, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(shell.transparentGif, 0);
}

TEST_F(MainWindow, MouseMessagesAreSwallowedWhileThePickerIsOff) {
    command(IDC_TRANSPARENT_CHECK);  // transparent mode on, but no picture yet
    pumpMessages();
    EXPECT_EQ(SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 40)), 0);
    EXPECT_FALSE(needsRepaint());

    command(IDC_TRANSPARENT_CHECK);  // off again, now with a picture
    showTestPicture(window);
    click(pictureWidth - 1, pictureHeight + 22);
    EXPECT_EQ(picked(), RGB(0, 0, 0));
    EXPECT_FALSE(needsRepaint());
}

TEST_F(MainWindow, TheLeftColumnAndTopRowAreOutsideThePickArea) {
    showTestPicture(window);
    command(IDC_TRANSPARENT_CHECK);
    click(0, 40);
    EXPECT_TRUE(needsRepaint());
    pumpMessages();
    click(20, 23);
    EXPECT_TRUE(needsRepaint());
    click(pictureWidth, 30);
    click(20, pictureHeight + 23);
    EXPECT_EQ(picked(), RGB(0, 0, 0));
}

TEST_F(MainWindow, AClickOnTheBottomRightPixelPicksItsColourIntoTheSwatch) {
    showTestPicture(window);
    command(IDC_TRANSPARENT_CHECK);
    ASSERT_EQ(screenPixel(pictureWidth - 1, pictureHeight + 22), pixelColour);
    click(pictureWidth - 1, pictureHeight + 22);
    EXPECT_EQ(picked(), pixelColour);
    EXPECT_EQ(screenPixel(200, 10), pixelColour);
    EXPECT_EQ(screenPixel(192, 2), pixelColour);
    EXPECT_EQ(screenPixel(210, 20), pixelColour);
    EXPECT_FALSE(needsRepaint());

    // Switching the mode off and on, and opening another picture, keep it.
    command(IDC_TRANSPARENT_CHECK);
    command(IDC_TRANSPARENT_CHECK);
    EXPECT_EQ(picked(), pixelColour);
    shell.picture.path = "Z:\\no-such.bmp";
    shell.picture.fileType = FileType::bitmap;
    loadChosenPicture(window);
    pumpMessages();
    EXPECT_EQ(picked(), pixelColour);
}

TEST_F(MainWindow, OpenTitlesTheWindowWithTheBareNameEvenWhenLoadingFails) {
    // 表示.bmp: the second byte of 表 is 0x5C, which is not a backslash here.
    shell.picture.path = "Z:\\no-such-folder\\\x95\x5C\x8E\xA6.bmp";
    shell.picture.fileType = FileType::bitmap;
    loadChosenPicture(window);
    EXPECT_EQ(windowText(window), std::string(texts::titlePrefix) + "\x95\x5C\x8E\xA6.bmp]");
    EXPECT_EQ(shell.pictureLoaded, 0);  // nothing to paint or pick from
    command(IDC_TRANSPARENT_CHECK);
    click(1, 24);
    EXPECT_FALSE(needsRepaint());

    // An odd name: the pair that would end at the limit is left out whole.
    std::string longName = "Z:\\a";
    while (longName.size() < 253) longName += "\x95\x5C";
    shell.picture.path = longName;
    loadChosenPicture(window);
    const std::string title = windowText(window);
    EXPECT_EQ(title.size(), 254u);
    EXPECT_EQ(title.substr(title.size() - 3), "\x95\x5C]");
}

TEST_F(MainWindow, SaveWithoutAPictureOpensNoDialogAndCancelledOpenChangesNothing) {
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 0);
    showTestPicture(window);
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 1);

    const std::string title = windowText(window);
    command(IDM_OPEN);
    EXPECT_EQ(dialogsStopped, 2);
    EXPECT_EQ(windowText(window), title);
    EXPECT_EQ(shell.pictureLoaded, 1);
    EXPECT_EQ(shell.picture.fileType, FileType::none);
}

TEST_F(MainWindow, ExitReleasesTheAboutBitmapAndQuitsWithCodeZero) {
    SendMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(shell.aboutBitmap, nullptr);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

// The resources compiled from the code-page-932 script, read back as the
// program reads them.
TEST(Resources, MenuLabelsAreTheCodePage932Texts) {
    HMENU menu = LoadMenuA(instance(), MENU_NAME);
    ASSERT_NE(menu, nullptr);
    char text[64];
    auto label = [&](HMENU owner, UINT item, UINT flags) {
        GetMenuStringA(owner, item, text, sizeof text, flags);
        return std::string(text);
    };
    EXPECT_EQ(label(menu, 0, MF_BYPOSITION), texts::menuFile);
    EXPECT_EQ(label(menu, 1, MF_BYPOSITION), texts::menuHelp);
    EXPECT_EQ(label(menu, IDM_OPEN, MF_BYCOMMAND), texts::menuOpen);
    EXPECT_EQ(label(menu, IDM_SAVE, MF_BYCOMMAND), texts::menuSave);
    EXPECT_EQ(label(menu, IDM_EXIT, MF_BYCOMMAND), texts::menuExit);
    EXPECT_EQ(label(menu, IDM_README, MF_BYCOMMAND), texts::menuReadme);
    EXPECT_EQ(label(menu, IDM_VERSION, MF_BYCOMMAND), texts::menuVersion);
    DestroyMenu(menu);
}

std::string narrow(const WORD*& cursor) {
    std::wstring wide;
    for (; *cursor != 0; ++cursor) wide += static_cast<wchar_t>(*cursor);
    ++cursor;
    char text[128] = {};
    WideCharToMultiByte(932, 0, wide.c_str(), -1, text, sizeof text, nullptr, nullptr);
    return text;
}

TEST(Resources, AboutTemplateIsLaidOutAsDescribed) {
    HRSRC found = FindResourceA(instance(), ABOUT_DIALOG_NAME, MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(instance(), found)));
    EXPECT_EQ(dialog->style, static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                                DS_SETFONT));
    EXPECT_EQ(dialog->cdit, 1);
    EXPECT_EQ((std::vector<int>{dialog->x, dialog->y, dialog->cx, dialog->cy}), (std::vector<int>{70, 80, 175, 47}));
    const WORD* cursor = reinterpret_cast<const WORD*>(dialog + 1);
    EXPECT_EQ(*cursor++, 0);  // no menu
    EXPECT_EQ(*cursor++, 0);  // the standard dialog class
    EXPECT_EQ(narrow(cursor), texts::aboutCaption);
    EXPECT_EQ(*cursor++, 9);
    EXPECT_EQ(narrow(cursor), texts::aboutFont);
    const auto aligned = (reinterpret_cast<std::uintptr_t>(cursor) + 3) & ~std::uintptr_t{3};
    const auto* button = reinterpret_cast<const DLGITEMTEMPLATE*>(aligned);
    EXPECT_EQ(button->id, IDOK);
    EXPECT_EQ(button->style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON));
    EXPECT_EQ((std::vector<int>{button->x, button->y, button->cx, button->cy}), (std::vector<int>{3, 27, 19, 19}));

    BITMAP about{};
    HBITMAP bitmap = LoadBitmapA(instance(), ABOUT_BITMAP_NAME);
    ASSERT_NE(bitmap, nullptr);
    GetObjectA(bitmap, sizeof about, &about);
    EXPECT_EQ(about.bmWidth, 313);
    EXPECT_EQ(about.bmHeight, 73);
    DeleteObject(bitmap);
    EXPECT_NE(LoadCursorA(instance(), DROPPER_CURSOR_NAME), nullptr);
    EXPECT_NE(LoadIconA(instance(), MAKEINTRESOURCEA(IDI_APP_ICON)), nullptr);
}

}  // namespace
}  // namespace quolb
