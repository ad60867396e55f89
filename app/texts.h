// Every text the desktop tool shows, as code-page-932 bytes. Escaped so the
// bytes do not depend on the source file's encoding or the compiler's
// execution character set; tests compare them with the readable forms.
#pragma once

namespace quolb::texts {

// The main window's title before any picture is open.
inline constexpr char appTitle[] = "Quolb\x81`GIF";  // Quolb～GIF
// The title after an Open: prefix, file name, closing bracket.
inline constexpr char titlePrefix[] = "Quolb\x81`GIF   [";  // Quolb～GIF   [
inline constexpr char checkBoxText[] = "\x93\xA7\x89\xDFGif\x82\xC9\x82\xB7\x82\xE9";  // 透過Gifにする
inline constexpr char colourLabelText[] = "\x93\xA7\x89\xDF\x90" "F";  // 透過色
// Menu labels, as the resource script holds them.
inline constexpr char menuFile[] = "\xCC\xA7\xB2\xD9(&F)";  // ﾌｧｲﾙ(&F)
inline constexpr char menuOpen[] = "\x8AJ\x82\xAD(&O)";  // 開く(&O)
inline constexpr char menuSave[] = "\x95\xDB\x91\xB6(&S)";  // 保存(&S)
inline constexpr char menuExit[] = "\x8FI\x97\xB9(&E)";  // 終了(&E)
inline constexpr char menuHelp[] = "\xCD\xD9\xCC\xDF(&H)";  // ﾍﾙﾌﾟ(&H)
inline constexpr char menuReadme[] = "\xD8\xB0\xC4\xDE\xD0\x81[(&R)";  // ﾘｰﾄﾞﾐー(&R)
inline constexpr char menuVersion[] = "\xCA\xDE\xB0\xBC\xDE\xAE\xDD\x8F\xEE\x95\xF1(&V)";  // ﾊﾞｰｼﾞｮﾝ情報(&V)
// The About box's caption and font.
inline constexpr char aboutCaption[] = "\xCA\xDE\xB0\xBC\xDE\xAE\xDD\x8F\xEE\x95\xF1";  // ﾊﾞｰｼﾞｮﾝ情報
inline constexpr char aboutFont[] = "\x82l\x82r \x82o\x83S\x83V\x83" "b\x83N";  // ＭＳ Ｐゴシック
// Dialog filters: label|pattern| pairs; the last byte is the separator.
// The open entries' order is the file-type order: 1 bitmap, 2 TIM,
// 3 container, 4 archive, 5 the name decides.
inline constexpr char openFilter[] = "\xCB\xDE\xAF\xC4\xCF\xAF\xCC\xDF|*.bmp|TIM\x89\xE6\x91\x9C|*.tim|\x88\xB3\x8FkTIM|*.lzb|\xB1\xB0\xB6\xB2\xCC\xDE|*pb|\x91S\x82\xC4\x82\xCC\xCC\xA7\xB2\xD9|*.*|";  // ﾋﾞｯﾄﾏｯﾌﾟ|*.bmp|TIM画像|*.tim|圧縮TIM|*.lzb|ｱｰｶｲﾌﾞ|*pb|全てのﾌｧｲﾙ|*.*|
inline constexpr char saveFilter[] = "GIF\xCC\xA7\xB2\xD9|*.gif|";  // GIFﾌｧｲﾙ|*.gif|

}  // namespace quolb::texts
