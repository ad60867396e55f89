// A deliberately plain GIF code-stream packer for tests: one bit at a time,
// cut into sub-blocks as it goes. It shares no code with the packer under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quolb::test {

// The sub-blocks for `codes` sent as 9-bit literals, a clear code (256) in
// front of every 254th, then the end code 257. No block terminator.
inline std::vector<std::uint8_t> referenceCodeStream(const std::vector<std::uint8_t>& codes) {
    std::vector<int> sent;
    for (std::size_t i = 0; i <= codes.size(); ++i) {  // the end code after the last
        if (i > 0 && i % 253 == 0 && i < codes.size()) sent.push_back(256);
        sent.push_back(i < codes.size() ? codes[i] : 257);
    }
    const std::size_t bits = 9 * sent.size();
    std::vector<std::uint8_t> framed;
    for (std::size_t bit = 0; bit < bits; ++bit) {
        if (bit % (8 * 255) == 0) framed.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(255, (bits - bit + 7) / 8)));
        if (bit % 8 == 0) framed.push_back(0);
        if ((sent[bit / 9] >> (bit % 9) & 1) != 0) framed.back() = static_cast<std::uint8_t>(framed.back() | 1 << (bit % 8));
    }
    return framed;
}

}  // namespace quolb::test
