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
// Dialog filters: label|pattern| pairs; the last byte is the separator.
// The open entries' order is the file-type order: 1 bitmap, 2 TIM,
// 3 container, 4 archive, 5 the name decides.
inline constexpr char openFilter[] = "\xCB\xDE\xAF\xC4\xCF\xAF\xCC\xDF|*.bmp|TIM\x89\xE6\x91\x9C|*.tim|\x88\xB3\x8FkTIM|*.lzb|\xB1\xB0\xB6\xB2\xCC\xDE|*pb|\x91S\x82\xC4\x82\xCC\xCC\xA7\xB2\xD9|*.*|";  // ﾋﾞｯﾄﾏｯﾌﾟ|*.bmp|TIM画像|*.tim|圧縮TIM|*.lzb|ｱｰｶｲﾌﾞ|*pb|全てのﾌｧｲﾙ|*.*|
// The save entries: 1 the plain GIF, 2 the compressed one.
inline constexpr char saveFilter[] = "GIF\xCC\xA7\xB2\xD9|*.gif|LZW\x88\xB3\x8FkGIF|*.gif|";  // GIFﾌｧｲﾙ|*.gif|LZW圧縮GIF|*.gif|

}  // namespace quolb::texts
