#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <iconv.h>
#endif

#include "app/texts.h"
#include "image/paths.h"

namespace quolb {
namespace {

std::string applied(std::size_t (*helper)(char*, const PathConvention&), std::string path,
                    const PathConvention& convention = cp932Paths) {
    helper(path.data(), convention);
    return path.c_str();
}

// Windows paths in code page 932, where the second byte of 表 (\x95\x5C) and
// of ソ (\x83\x5C) is a backslash. Only a dot in the name starts an extension.
TEST(PathHelpers, SplitFolderNameAndExtensionStepOverDoubleByteCharactersAndMindTheEdges) {
    struct Row { const char *path, *cut, *stripped; FileType type; };
    for (const auto& [path, cut, stripped, type] : std::vector<Row>{
             {"a.b.BmP", "a.b", "a.b.BmP", FileType::bitmap},
             {"D:\\my.pics\\cat", "D:\\my.pics\\cat", "cat", FileType::none},
             {"D:\\my.pics\\", "D:\\my.pics\\", "", FileType::none},
             {".bmp", ".bmp", ".bmp", FileType::none},  // too short for a type, a leading dot starts no extension
             {"D:/x/.hidden", "D:/x/.hidden", ".hidden", FileType::none},
             {"C:x.Tim", "C:x", "x.Tim", FileType::tim},
             {"x.lzb", "x", "x.lzb", FileType::container},
             {"D:\\datapb", "D:\\datapb", "datapb", FileType::archive},
             {"C:\\dir\\\x95\x5C\x8E\xA6.bmp", "C:\\dir\\\x95\x5C\x8E\xA6", "\x95\x5C\x8E\xA6.bmp", FileType::bitmap},
             {"C:\\\x83\x5C\\x.bmp", "C:\\\x83\x5C\\x", "x.bmp", FileType::bitmap},
         }) {
        EXPECT_EQ(applied(cutExtension, path), cut) << path;
        EXPECT_EQ(applied(stripDirectory, path), stripped) << path;
        EXPECT_EQ(fileTypeFromName(path), type) << path;
    }
    // Single-byte text has no pairs: the same bytes split at the 0x5C.
    EXPECT_EQ(applied(stripDirectory, "\x95\x5C\x8E\xA6.bmp", {"\\", noLeadBytes}), "\x8E\xA6.bmp");
}

#ifndef _WIN32
// The program's texts against their readable forms, converted by glibc's
// code-page-932 tables.
TEST(Texts, AreTheCodePage932FormsOfTheReadableTexts) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    for (auto [bytes, readable] : std::vector<std::pair<const char*, std::string>>{
             {texts::appTitle, "Quolb～GIF"},
             {texts::titlePrefix, "Quolb～GIF   ["},
             {texts::checkBoxText, "透過Gifにする"},
             {texts::colourLabelText, "透過色"},
             {texts::openFilter, "ﾋﾞｯﾄﾏｯﾌﾟ|*.bmp|TIM画像|*.tim|圧縮TIM|*.lzb|ｱｰｶｲﾌﾞ|*pb|全てのﾌｧｲﾙ|*.*|"},
             {texts::saveFilter, "GIFﾌｧｲﾙ|*.gif|LZW圧縮GIF|*.gif|"},
             {texts::cannotOpenText, "ファイルを開けません。"},
             {texts::notThisTypeText, "選んだ種類の画像ではありません。"},
             {texts::damagedText, "画像のデータが壊れています。"},
             {texts::tooLargeText, "画像が大きすぎます。"},
             {texts::noMemoryText, "メモリが足りません。"},
             {texts::cannotWriteText, "GIFファイルを書き込めません。"},
             {texts::colourAbsentText, "透過色がこの画像にないため、透過なしで保存しました。"},
         }) {
        std::string converted(2 * readable.size(), '\0');
        char *from = readable.data(), *to = converted.data();
        std::size_t fromLeft = readable.size(), toLeft = converted.size();
        iconv(converter, &from, &fromLeft, &to, &toLeft);  // a failure leaves a shorter text
        EXPECT_EQ(bytes, converted.substr(0, converted.size() - toLeft)) << readable;
    }
    iconv_close(converter);
}
#endif

}  // namespace
}  // namespace quolb
