#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <iconv.h>
#endif

#include "paths.h"
#include "texts.h"
#include "title.h"

namespace quolb {
namespace {

std::string applied(std::size_t (*helper)(char*, LeadBytePredicate), std::string path,
                    LeadBytePredicate isLeadByte = isCp932LeadByte) {
    helper(path.data(), isLeadByte);
    return path.c_str();
}

// In code page 932 the second byte of 表 (\x95\x5C) and of ソ (\x83\x5C) is a
// backslash, and that of ポ (\x83\x7C) is '|'.
TEST(PathHelpers, StepOverDoubleByteCharactersAndMindTheEdges) {
    using Row = std::tuple<const char*, const char*, const char*, FileType>;  // path, cut, stripped, type
    for (const auto& [path, cut, stripped, type] : std::vector<Row>{
             {"a.b.BmP", "a.b", "a.b.BmP", FileType::bitmap},
             {"D:\\my.pics\\cat", "D:\\my", "cat", FileType::none},
             {"D:\\pics\\", "D:\\pics\\", "", FileType::none},
             {".bmp", ".bmp", ".bmp", FileType::none},
             {"x.Tim", "x", "x.Tim", FileType::tim},
             {"x.lzb", "x", "x.lzb", FileType::container},
             {"D:\\datapb", "D:\\datapb", "datapb", FileType::archive},
             {"a.pb", "a", "a.pb", FileType::none},
             {"C:\\dir\\\x95\x5C\x8E\xA6.bmp", "C:\\dir\\\x95\x5C\x8E\xA6", "\x95\x5C\x8E\xA6.bmp", FileType::bitmap},
             {"C:\\\x83\x5C\\x.bmp", "C:\\\x83\x5C\\x", "x.bmp", FileType::bitmap},
         }) {
        EXPECT_EQ(applied(cutExtension, path), cut) << path;
        EXPECT_EQ(applied(stripDirectory, path), stripped) << path;
        EXPECT_EQ(fileTypeFromName(path), type) << path;
    }
    // Single-byte text has no pairs: the same bytes split at the 0x5C.
    EXPECT_EQ(applied(stripDirectory, "\x95\x5C\x8E\xA6.bmp", noLeadBytes), "\x8E\xA6.bmp");
    std::string filters = "\x83\x7C|*.x|";
    makeFilterList(filters.data());
    EXPECT_EQ(filters, std::string("\x83\x7C\0*.x\0", 7));
}

TEST(FormatTitle, FillsTheBufferToTheLastByte) {
    char title[titleBufferSize];
    formatTitle(title, std::string(255, 'n').c_str());
    EXPECT_EQ(title, texts::titlePrefix + std::string(240, 'n') + "]");
}

#ifndef _WIN32
// The program's texts against their readable forms, converted by glibc's
// code-page-932 tables.
std::string toCp932(std::string in) {
    std::string out(2 * in.size(), '\0');
    char* from = in.data();
    char* to = out.data();
    std::size_t fromLeft = in.size();
    std::size_t toLeft = out.size();
    iconv_t converter = iconv_open("CP932", "UTF-8");
    EXPECT_NE(iconv(converter, &from, &fromLeft, &to, &toLeft), static_cast<std::size_t>(-1)) << in;
    iconv_close(converter);
    return out.substr(0, out.size() - toLeft);
}

TEST(Texts, AreTheCodePage932FormsOfTheReadableTexts) {
    for (const auto& [bytes, readable] : std::vector<std::pair<const char*, const char*>>{
             {texts::titlePrefix, "Quolb～GIF   ["},
             {texts::checkBoxText, "透過Gifにする"},
             {texts::colourLabelText, "透過色"},
             {texts::openFilter, "ﾋﾞｯﾄﾏｯﾌﾟ|*.bmp|TIM画像|*.tim|圧縮TIM|*.lzb|ｱｰｶｲﾌﾞ|*pb|全てのﾌｧｲﾙ|*.*|"},
             {texts::saveFilter, "GIFﾌｧｲﾙ|*.gif|"},
         })
        EXPECT_EQ(bytes, toCp932(readable)) << readable;
    EXPECT_EQ(texts::appTitle + std::string("   ["), texts::titlePrefix);
}
#endif

}  // namespace
}  // namespace quolb
