// The main window driven by messages under Wine: the procedure, the picker
// and the resources, without the common dialogs (a hook stops them).
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // builder rows name only what they change

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/texts.h"
#include "app/window.h"
#include "image/byte_reader.h"
#include "res/resource.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_file.h"
#include "tests/support/lzss_writer.h"
#include "tests/support/tim_builder.h"

namespace quolb {
namespace {

HINSTANCE instance() { return GetModuleHandleA(nullptr); }

std::string windowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

bool isDialog(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return std::string(name) == "#32770";
}

// Closes every dialog box as soon as it is active, so a command that would
// wait for a user returns at once: the file dialogs are counted and
// cancelled; a message box (captioned with the program's title) has its text
// kept and is answered with OK.
int dialogsStopped = 0;
std::vector<std::string> boxTexts;
std::vector<std::string> proposedNames;  // what each file dialog's name box held
LRESULT CALLBACK stopDialogs(int code, WPARAM wParam, LPARAM lParam) {
    const auto dialog = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && isDialog(dialog)) {
        if (windowText(dialog) != texts::appTitle) {
            ++dialogsStopped;
            char name[MAX_PATH] = {};
            for (int box : {0x480, 0x47C})  // the name box: an edit, or a combo box
                if (!name[0]) GetDlgItemTextA(dialog, box, name, sizeof name);
            proposedNames.push_back(name);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
            std::string text;  // the longest static text: the message, not the icon
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                char name[16] = {};
                GetClassNameA(child, name, sizeof name);
                if (lstrcmpiA(name, "Static") == 0 && windowText(child).size() > text.size()) text = windowText(child);
            }
            boxTexts.push_back(text);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The colour shown at a client point.
COLORREF shownColour(HWND window, int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

// Drops the file on the window as the shell does: a DROPFILES block with
// the names after it, each ended by a NUL, and one more NUL.
void dropFile(HWND window, const std::string& path) {
    HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    std::memcpy(reinterpret_cast<char*>(drop + 1), path.c_str(), path.size() + 1);
    GlobalUnlock(block);
    SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);  // the window frees the block
}

// The main window's swatch: the colour in effect.
COLORREF swatchColour(HWND window) { return shownColour(window, 200, 10); }

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

    // The window cannot be shrunk past the well.
    SetWindowPos(window, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER);
    RECT smallest;
    GetClientRect(window, &smallest);
    EXPECT_GE(smallest.right, 213);
    SetWindowPos(window, nullptr, 0, 0, 520, 380, SWP_NOMOVE | SWP_NOZORDER);
    const auto saveGreyed = [window] {
        return (GetMenuState(GetMenu(window), IDM_SAVE, MF_BYCOMMAND) & MF_GRAYED) != 0;
    };
    EXPECT_TRUE(saveGreyed());
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 0) << "save before any picture does nothing";
    UpdateWindow(window);
    EXPECT_EQ(swatchColour(window), RGB(0, 0, 0)) << "black until a pick";
    // 40 x 30 pixels of colour 10, (10, 245, 5), but the bottom-right one,
    // colour 200, (200, 55, 100); the first row stored is the bottom one.
    test::BmpBuilder bitmap{.width = 40, .height = 30, .bitCount = 8, .table = std::vector<std::uint8_t>(1024),
                            .pixels = std::vector<std::uint8_t>(40 * 30, 10)};
    storeU32(bitmap.table.data() + 4 * 10, 0x0AF505);
    storeU32(bitmap.table.data() + 4 * 200, 0xC83764);
    bitmap.pixels[39] = 200;
    // A name with a dot before its extension is proposed with ".gif" on it.
    const test::TempFile file(".2024.bmp", bitmap.bytes());
    loadChosenPicture(window, file.path(), FileType::bitmap);
    EXPECT_FALSE(saveGreyed());
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, 1) << "save of a picture asks for a name";
    const std::string fileName = file.path().substr(file.path().find_last_of("\\/") + 1);
    ASSERT_EQ(proposedNames.size(), 1u);
    EXPECT_EQ(proposedNames[0], fileName.substr(0, fileName.size() - 4) + ".gif");
    const COLORREF black = RGB(0, 0, 0);
    EXPECT_EQ(clickAndPick(39, 52), black) << "swallowed while transparent mode is off";
    // Any command from the check box flips the mode, a double click too.
    command(MAKEWPARAM(IDC_TRANSPARENT_CHECK, BN_DOUBLECLICKED));
    EXPECT_EQ(SendMessageA(GetDlgItem(window, IDC_TRANSPARENT_CHECK), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(clickAndPick(20, 22), black) << "the band is outside";
    EXPECT_EQ(clickAndPick(40, 40), black) << "right of the picture is outside";
    EXPECT_EQ(clickAndPick(39, 52), RGB(200, 55, 100)) << "the swatch shows the picked colour";
    EXPECT_EQ(clickAndPick(0, 23), RGB(10, 245, 5)) << "the left column and the top row pick too";
    EXPECT_EQ(clickAndPick(39, 52), RGB(200, 55, 100));
    // The well shows the colour in effect whatever repaints it.
    command(IDC_TRANSPARENT_CHECK);
    command(IDC_TRANSPARENT_CHECK);
    SetWindowPos(window, nullptr, 0, 0, 530, 390, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowPos(window, nullptr, 0, 0, 520, 380, SWP_NOMOVE | SWP_NOZORDER);
    UpdateWindow(window);
    EXPECT_EQ(swatchColour(window), RGB(200, 55, 100));

    // Failures are said in one box each: the sentence for the kind, then the
    // file's name and the reason. The picture is gone.
    const test::TempFile text(".bmp", test::bytesOf("no picture here"));
    const std::string textName = text.path().substr(text.path().find_last_of("\\/") + 1);
    std::vector<std::uint8_t> cutBytes = bitmap.bytes();
    cutBytes.resize(60);
    const test::TempFile cut(".bmp", cutBytes);
    for (const auto& [path, sentence] : {std::pair{text.path(), texts::notThisTypeText},
                                         std::pair{cut.path(), texts::damagedText},
                                         std::pair{text.path() + ".gone", texts::cannotOpenText}}) {
        boxTexts.clear();
        loadChosenPicture(window, path, FileType::bitmap);
        ASSERT_EQ(boxTexts.size(), 1u) << path;
        EXPECT_EQ(boxTexts[0].substr(0, boxTexts[0].find("\r\n") + 2), std::string(sentence) + "\r\n") << path;
        EXPECT_NE(boxTexts[0].find("\r\n" + path.substr(path.find_last_of("\\/") + 1) + ": "), std::string::npos)
            << boxTexts[0];
    }
    EXPECT_EQ(boxTexts[0].substr(boxTexts[0].find("\r\n") + 2), textName + ".gone: cannot open the file");
    boxTexts.clear();
    UpdateWindow(window);
    EXPECT_TRUE(saveGreyed());
    EXPECT_EQ(clickAndPick(20, 40), RGB(200, 55, 100)) << "no picture, no pick; the well keeps the colour";

    // Each opening of an archive shows its next item, named by its number.
    const auto item = test::timFormContainer(test::timFile(test::patternTim(8, 3, 4)), 2);
    const test::TempFile archive(".xpb", test::concat({item, item, item}));
    const std::string archiveName = archive.path().substr(archive.path().find_last_of("\\/") + 1);
    for (const char* number : {"1/3", "2/3"}) {
        loadChosenPicture(window, archive.path(), FileType::archive);
        EXPECT_EQ(windowText(window), texts::titlePrefix + archiveName + " " + number + "]");
    }
    command(IDM_SAVE);
    EXPECT_EQ(proposedNames.back(), archiveName.substr(0, archiveName.size() - 4) + "-002.gif");

    // A dropped file opens as its name, then its bytes, say: a TIM picture
    // named .dat shows its top-left pixel at (0, 23).
    const test::TimPicture tim = test::patternTim(8, 4, 5);
    const test::TempFile timFile(".dat", test::timFile(tim));
    dropFile(window, timFile.path());
    UpdateWindow(window);
    EXPECT_TRUE(boxTexts.empty());
    const std::string timName = timFile.path().substr(timFile.path().find_last_of("\\/") + 1);
    EXPECT_EQ(windowText(window), texts::titlePrefix + timName + "]");
    const std::uint16_t first = static_cast<std::uint16_t>(tim.clut[tim.pixels[0]]);
    EXPECT_EQ(shownColour(window, 0, 23), RGB((first & 31) * 255 / 31, (first >> 5 & 31) * 255 / 31,
                                             (first >> 10 & 31) * 255 / 31));

    // A 16-bit TIM picture opens through the TIM entry, shows its own colours
    // and can be saved: red (0x001F) but a blue (0x7C00) bottom-right pixel.
    std::vector<std::uint8_t> colours(2 * 40 * 30);
    for (std::size_t i = 0; i < colours.size(); i += 2) colours[i] = 0x1F;
    colours[colours.size() - 2] = 0;
    colours[colours.size() - 1] = 0x7C;
    const test::TempFile directTim(".tim", test::timFileOfKind(0x02, 40, 30, colours));
    loadChosenPicture(window, directTim.path(), FileType::tim);
    UpdateWindow(window);
    EXPECT_EQ(clickAndPick(20, 30), RGB(255, 0, 0));
    EXPECT_EQ(clickAndPick(39, 52), RGB(0, 0, 255));
    const int dialogsBefore = dialogsStopped;
    command(IDM_SAVE);
    EXPECT_EQ(dialogsStopped, dialogsBefore + 1) << "save of a TIM picture asks for a name";

    // A picture larger than the view scrolls under the band; the picker takes
    // the pixel under the tip wherever the view is scrolled. 700 x 500 pixels
    // of colour 10 but the bottom-right one, colour 200.
    test::BmpBuilder large{.width = 700, .height = 500, .bitCount = 8, .table = bitmap.table,
                           .pixels = std::vector<std::uint8_t>(700 * 500, 10)};
    large.pixels[699] = 200;
    const test::TempFile largeFile(".bmp", large.bytes());
    loadChosenPicture(window, largeFile.path(), FileType::bitmap);
    SendMessageA(window, WM_HSCROLL, SB_BOTTOM, 0);
    SendMessageA(window, WM_VSCROLL, SB_BOTTOM, 0);
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL), WS_HSCROLL | WS_VSCROLL);
    EXPECT_EQ(shownColour(window, client.right - 1, client.bottom - 1), RGB(200, 55, 100));
    EXPECT_EQ(shownColour(window, 250, 10), GetSysColor(COLOR_BTNFACE)) << "the band stays over the picture";
    EXPECT_EQ(clickAndPick(client.right - 1, client.bottom - 1), RGB(200, 55, 100));
    SendMessageA(window, WM_VSCROLL, SB_LINEUP, 0);
    UpdateWindow(window);
    EXPECT_EQ(shownColour(window, client.right - 1, client.bottom - 1), RGB(10, 245, 5)) << "scrolled a line up";

    // Paths are UTF-8; the title spells the name in code page 932, where the
    // second byte of 表 is 0x5C, and a character it lacks as a stand-in.
    loadChosenPicture(window, "Z:\\no-such-folder\\\xE8\xA1\xA8\xE7\xA4\xBA.bmp", FileType::bitmap);  // 表示.bmp
    EXPECT_EQ(windowText(window), texts::titlePrefix + std::string("\x95\x5C\x8E\xA6.bmp]"));
    // An odd name: the pair that would end at the limit is left out whole.
    std::string path = "Z:\\a";
    for (int i = 0; i < 125; ++i) path += "\xE8\xA1\xA8";
    loadChosenPicture(window, path, FileType::bitmap);
    const std::string title = windowText(window);
    EXPECT_EQ(title.size(), 254u);
    EXPECT_EQ(title.substr(title.size() - 3), "\x95\x5C]");

    // Files named outside code page 932 open by their own names: café.bmp
    // beside cafe.bmp.
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::filesystem::path cafe = folder / std::filesystem::path(u8"quolb-caf\u00E9.bmp");
    const std::filesystem::path plain = folder / "quolb-cafe.bmp";
    std::ofstream(cafe, std::ios::binary).write(reinterpret_cast<const char*>(bitmap.bytes().data()),
                                               static_cast<std::streamsize>(bitmap.bytes().size()));
    std::ofstream(plain, std::ios::binary).write("not a picture", 13);
    const std::u8string cafePath = cafe.u8string();
    boxTexts.clear();
    loadChosenPicture(window, std::string(cafePath.begin(), cafePath.end()), FileType::bitmap);
    EXPECT_TRUE(boxTexts.empty()) << "café.bmp, not cafe.bmp, was read";
    EXPECT_EQ(windowText(window), texts::titlePrefix + std::string("quolb-caf?.bmp]"));
    for (const auto& made : {cafe, plain}) std::filesystem::remove(made);
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
