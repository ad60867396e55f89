// The main window driven by messages under Wine: the procedure, the picker
// and the resources, without the common dialogs (a hook stops them).
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // builder rows name only what they change

#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/texts.h"
#include "app/window.h"
#include "image/byte_reader.h"
#include "res/resource.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_file.h"
#include "tests/support/tim_builder.h"

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

// The main window's swatch: the picked colour right after a pick, the empty
// well otherwise.
COLORREF swatchColour(HWND window) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, 200, 10);
    ReleaseDC(window, dc);
    return colour;
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
        return swatchColour(window);
    };
    EXPECT_EQ(windowText(window), texts::appTitle);
    SetWindowPos(window, nullptr, 0, 0, 520, 380, SWP_NOMOVE | SWP_NOZORDER);
    std::vector<LONG> places;
    for (int id : {IDC_TRANSPARENT_CHECK, IDC_EMPTY_STATIC, IDC_COLOUR_LABEL}) {
        RECT place;
        GetWindowRect(GetDlgItem(window, id), &place);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
        places.insert(places.end(), {place.left, place.top, place.right, place.bottom});
    }
    EXPECT_EQ(places, (std::vector<LONG>{0, 0, 130, 23, 130, 0, 180, 23, 130, 2, 180, 23}));

    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 0) << "save before any picture does nothing";
    // 40 x 30 pixels of colour 10, (10, 245, 5), but the bottom-right one,
    // colour 200, (200, 55, 100); the first row stored is the bottom one.
    test::BmpBuilder bitmap{.width = 40, .height = 30, .bitCount = 8, .table = std::vector<std::uint8_t>(1024),
                            .pixels = std::vector<std::uint8_t>(40 * 30, 10)};
    storeU32(bitmap.table.data() + 4 * 10, 0x0AF505);
    storeU32(bitmap.table.data() + 4 * 200, 0xC83764);
    bitmap.pixels[39] = 200;
    const test::TempFile file(".bmp", bitmap.bytes());
    loadChosenPicture(window, file.path(), FileType::bitmap);
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 1) << "save of a picture asks for a name";
    const COLORREF well = swatchColour(window);
    EXPECT_NE(well, RGB(200, 55, 100));
    EXPECT_EQ(clickAndPick(39, 52), well) << "swallowed while transparent mode is off";
    // Any command from the check box flips the mode, a double click too.
    command(MAKEWPARAM(IDC_TRANSPARENT_CHECK, BN_DOUBLECLICKED));
    EXPECT_EQ(SendMessageA(GetDlgItem(window, IDC_TRANSPARENT_CHECK), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(clickAndPick(0, 40), well) << "the left column is outside";
    EXPECT_EQ(clickAndPick(20, 23), well) << "the top row is outside";
    UpdateWindow(window);
    EXPECT_EQ(clickAndPick(39, 52), RGB(200, 55, 100)) << "the swatch shows the picked colour";

    // A 16-bit TIM picture opens through the TIM entry, shows its own colours
    // and can be saved: red (0x001F) but a blue (0x7C00) bottom-right pixel.
    std::vector<std::uint8_t> colours(2 * 40 * 30);
    for (std::size_t i = 0; i < colours.size(); i += 2) colours[i] = 0x1F;
    colours[colours.size() - 2] = 0;
    colours[colours.size() - 1] = 0x7C;
    const test::TempFile tim(".tim", test::timFileOfKind(0x02, 40, 30, colours));
    loadChosenPicture(window, tim.path(), FileType::tim);
    UpdateWindow(window);
    EXPECT_EQ(clickAndPick(20, 30), RGB(255, 0, 0));
    EXPECT_EQ(clickAndPick(39, 52), RGB(0, 0, 255));
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 2) << "save of a TIM picture asks for a name";

    // 表示.bmp: the second byte of 表 is 0x5C, a backslash only where the
    // system's code page has no double-byte characters.
    const std::string name = "\x95\x5C\x8E\xA6.bmp";
    loadChosenPicture(window, "Z:\\no-such-folder\\" + name, FileType::bitmap);
    EXPECT_EQ(windowText(window), texts::titlePrefix + (IsDBCSLeadByte(0x95) ? name : name.substr(2)) + "]");
    // An odd name: the pair that would end at the limit is left out whole.
    std::string path = "Z:\\a";
    while (path.size() < 253) path += "\x95\x5C";
    loadChosenPicture(window, path, FileType::bitmap);
    const std::string title = windowText(window);
    if (IsDBCSLeadByte(0x95)) {
        EXPECT_EQ(title.size(), 254u);
        EXPECT_EQ(title.substr(title.size() - 3), "\x95\x5C]");
    } else {
        EXPECT_EQ(title, std::string(texts::titlePrefix) + "]") << "the name ends at its last backslash";
    }
}

// The filter texts become the lists the common dialogs take; a double-byte
// character's second byte may equal the separator.
TEST(Dialogs, FilterTextsBecomeNulSeparatedLists) {
    std::string filters = "\x83\x7C|*.x|";
    makeFilterList(filters.data());
    EXPECT_EQ(filters, std::string("\x83\x7C\0*.x\0", 7));
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
