// A deliberately plain GIF code-stream packer for tests: one bit at a time,
// then cut into sub-blocks. It shares no code with the packer under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quolb::test {

// The sub-blocks for `codes` sent as 9-bit literals with a clear code (256)
// in front of a code once `clearLimit` codes went out since the last one,
// then the end code 257. The block terminator is not included.
inline std::vector<std::uint8_t> referenceCodeStream(const std::vector<std::uint8_t>& codes, int clearLimit = 253) {
    std::vector<bool> bits;
    auto send = [&bits](int code) {
        for (int i = 0; i < 9; ++i) bits.push_back(((code >> i) & 1) != 0);
    };
    int sinceClear = 0;
    for (const std::uint8_t code : codes) {
        if (sinceClear >= clearLimit) {
            send(256);
            sinceClear = 0;
        }
        send(code);
        ++sinceClear;
    }
    send(257);
    std::vector<std::uint8_t> raw((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i]) raw[i / 8] = static_cast<std::uint8_t>(raw[i / 8] | 1 << (i % 8));
    std::vector<std::uint8_t> framed;
    for (std::size_t at = 0; at < raw.size(); at += 255) {
        const std::size_t length = std::min<std::size_t>(255, raw.size() - at);
        framed.push_back(static_cast<std::uint8_t>(length));
        framed.insert(framed.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                      raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    }
    return framed;
}

}  // namespace quolb::test
