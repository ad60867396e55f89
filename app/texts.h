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

// Message boxes: the sentence for each kind of failure, then the file's
// name and the reason on a line of their own.
inline constexpr char cannotOpenText[] = "\x83t\x83\x40\x83" "C\x83\x8B\x82\xF0\x8AJ\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81" "B";  // ファイルを開けません。
inline constexpr char notThisTypeText[] = "\x91I\x82\xF1\x82\xBE\x8E\xED\x97\xDE\x82\xCC\x89\xE6\x91\x9C\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B";  // 選んだ種類の画像ではありません。
inline constexpr char damagedText[] = "\x89\xE6\x91\x9C\x82\xCC\x83" "f\x81[\x83\x5E\x82\xAA\x89\xF3\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB7\x81" "B";  // 画像のデータが壊れています。
inline constexpr char tooLargeText[] = "\x89\xE6\x91\x9C\x82\xAA\x91\xE5\x82\xAB\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81" "B";  // 画像が大きすぎます。
inline constexpr char noMemoryText[] = "\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B";  // メモリが足りません。
inline constexpr char cannotWriteText[] = "GIF\x83t\x83\x40\x83" "C\x83\x8B\x82\xF0\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1\x81" "B";  // GIFファイルを書き込めません。
// Said after a Save when the picture lacks the transparent colour.
inline constexpr char colourAbsentText[] = "\x93\xA7\x89\xDF\x90" "F\x82\xAA\x82\xB1\x82\xCC\x89\xE6\x91\x9C\x82\xC9\x82\xC8\x82\xA2\x82\xBD\x82\xDF\x81" "A\x93\xA7\x89\xDF\x82\xC8\x82\xB5\x82\xC5\x95\xDB\x91\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B";  // 透過色がこの画像にないため、透過なしで保存しました。

}  // namespace quolb::texts
