#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <iconv.h>
#endif

#include "paths.h"
#include "texts.h"
#include "title.h"

namespace quolb {
namespace {

// Code-page-932 forms of a few names, spelled out so a trail byte of 0x5C
// (the second byte of 表 and of ソ) shows.
const std::string hyouji = "\x95\x5C\x8E\xA6";  // 表示
const std::string so = "\x83\x5C";              // ソ

std::string cut(std::string path) {
    cutExtension(path.data());
    return path.c_str();
}

std::string strip(std::string path) {
    stripDirectory(path.data());
    return path.c_str();
}

TEST(CutExtension, CutsAtTheLastDotAnywhereButTheFirstByte) {
    EXPECT_EQ(cut("D:\\pics\\cat.bmp"), "D:\\pics\\cat");
    EXPECT_EQ(cut("a.b.bmp"), "a.b");
    EXPECT_EQ(cut("D:\\my.pics\\cat"), "D:\\my");
    EXPECT_EQ(cut(".hidden"), ".hidden");
    EXPECT_EQ(cut("noext"), "noext");
    EXPECT_EQ(cut("D:\\" + hyouji + ".bmp"), "D:\\" + hyouji);
}

TEST(StripDirectory, KeepsWhatFollowsTheLastBackslash) {
    EXPECT_EQ(strip("D:\\pics\\cat.bmp"), "cat.bmp");
    EXPECT_EQ(strip("cat.bmp"), "cat.bmp");
    EXPECT_EQ(strip("D:\\pics\\"), "");
}

TEST(StripDirectory, ATrailByteOf5CIsNoBackslash) {
    EXPECT_EQ(strip("C:\\dir\\" + hyouji + ".bmp"), hyouji + ".bmp");
    EXPECT_EQ(strip("C:\\" + so + "\\x.bmp"), "x.bmp");
    EXPECT_EQ(strip(so + ".bmp"), so + ".bmp");
    // Single-byte text has no pairs: the same bytes split at the 0x5C.
    std::string plain = hyouji + ".bmp";
    stripDirectory(plain.data(), noLeadBytes);
    EXPECT_STREQ(plain.c_str(), "\x8E\xA6.bmp");
}

TEST(FileTypeFromName, LooksAtTheEndOfNamesOfFiveBytesOrMore) {
    EXPECT_EQ(fileTypeFromName("cat.BmP"), FileType::bitmap);
    EXPECT_EQ(fileTypeFromName("x.tim"), FileType::tim);
    EXPECT_EQ(fileTypeFromName("x.LZB"), FileType::container);
    EXPECT_EQ(fileTypeFromName("ab.pb"), FileType::archive);
    EXPECT_EQ(fileTypeFromName("D:\\datapb"), FileType::archive);
    EXPECT_EQ(fileTypeFromName("a.pb"), FileType::none);
    EXPECT_EQ(fileTypeFromName(".bmp"), FileType::none);
    EXPECT_EQ(fileTypeFromName("cat.gif"), FileType::none);
}

std::vector<std::string> filterEntries(std::string text) {
    makeFilterList(text.data());
    std::vector<std::string> entries;
    for (const char* p = text.c_str(); *p != '\0'; p += std::strlen(p) + 1) entries.emplace_back(p);
    return entries;
}

TEST(MakeFilterList, TurnsSeparatorsIntoNulsEndingInTwo) {
    std::string text = "ab|*.bmp|";
    makeFilterList(text.data());
    EXPECT_EQ(text, std::string("ab\0*.bmp\0", 9));
    EXPECT_EQ(text.c_str()[text.size()], '\0');

    const auto open = filterEntries(texts::openFilter);
    ASSERT_EQ(open.size(), 10u);
    EXPECT_EQ(open[1], "*.bmp");
    EXPECT_EQ(open[3], "*.tim");
    EXPECT_EQ(open[5], "*.lzb");
    EXPECT_EQ(open[7], "*pb");
    EXPECT_EQ(open[9], "*.*");
    EXPECT_EQ(filterEntries(texts::saveFilter), (std::vector<std::string>{"GIF\xCC\xA7\xB2\xD9", "*.gif"}));
}

TEST(MakeFilterList, KeepsATrailByteThatEqualsTheSeparator) {
    const std::string po = "\x83\x7C";  // ポ, whose second byte is '|'
    EXPECT_EQ(filterEntries(po + "|*.x|"), (std::vector<std::string>{po, "*.x"}));
}

TEST(FormatTitle, WrapsTheNameAndShortensItAtACharacterBoundary) {
    char title[titleBufferSize];
    formatTitle(title, (hyouji + ".bmp").c_str());
    EXPECT_EQ(std::string(title), "Quolb\x81\x60GIF   [" + hyouji + ".bmp]");

    // 255 single bytes: 240 fit between the prefix and the bracket.
    formatTitle(title, std::string(255, 'n').c_str());
    EXPECT_EQ(std::strlen(title), 255u);
    EXPECT_EQ(std::string(title + 14), std::string(240, 'n') + "]");

    // One byte, then pairs: the pair that would straddle the limit goes whole.
    std::string name = "a";
    for (int i = 0; i < 127; ++i) name += "\x95\x5C";
    formatTitle(title, name.c_str());
    EXPECT_EQ(std::string(title + 14), name.substr(0, 239) + "]");
}

#ifndef _WIN32
// The escaped constants against their readable forms, converted by glibc's
// code-page-932 tables (the Windows build reads them back from its resources).
std::string toCp932(std::string_view utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    std::string in(utf8);
    std::string out(in.size() * 2, '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

TEST(Texts, AreTheCodePage932FormsOfTheReadableTexts) {
    EXPECT_EQ(std::string(texts::appTitle), "Quolb\x81\x60GIF");
    EXPECT_EQ(texts::appTitle, toCp932("Quolb～GIF"));
    EXPECT_EQ(texts::titlePrefix, toCp932("Quolb～GIF   ["));
    EXPECT_EQ(texts::checkBoxText, toCp932("透過Gifにする"));
    EXPECT_EQ(texts::colourLabelText, toCp932("透過色"));
    EXPECT_EQ(texts::menuFile, toCp932("ﾌｧｲﾙ(&F)"));
    EXPECT_EQ(texts::menuOpen, toCp932("開く(&O)"));
    EXPECT_EQ(texts::menuSave, toCp932("保存(&S)"));
    EXPECT_EQ(texts::menuExit, toCp932("終了(&E)"));
    EXPECT_EQ(texts::menuHelp, toCp932("ﾍﾙﾌﾟ(&H)"));
    EXPECT_EQ(texts::menuReadme, toCp932("ﾘｰﾄﾞﾐー(&R)"));
    EXPECT_EQ(texts::menuVersion, toCp932("ﾊﾞｰｼﾞｮﾝ情報(&V)"));
    EXPECT_EQ(texts::aboutCaption, toCp932("ﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(texts::aboutFont, toCp932("ＭＳ Ｐゴシック"));
    EXPECT_EQ(texts::openFilter, toCp932("ﾋﾞｯﾄﾏｯﾌﾟ|*.bmp|TIM画像|*.tim|圧縮TIM|*.lzb|ｱｰｶｲﾌﾞ|*pb|全てのﾌｧｲﾙ|*.*|"));
    EXPECT_EQ(texts::saveFilter, toCp932("GIFﾌｧｲﾙ|*.gif|"));
}
#endif

}  // namespace
}  // namespace quolb
