#include "lzss_writer.h"

namespace quolb::test {

std::vector<std::uint8_t> packLzss(std::span<const LzssToken> tokens) {
    std::vector<std::uint8_t> out;
    std::size_t flagAt = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (i % 8 == 0) {
            flagAt = out.size();
            out.push_back(0);
        }
        out.push_back(tokens[i].b1);
        if (!tokens[i].reference) continue;
        out[flagAt] = static_cast<std::uint8_t>(out[flagAt] | 0x80 >> (i % 8));
        out.push_back(tokens[i].b2);
    }
    return out;
}

std::vector<std::uint8_t> compressLzss(std::span<const std::uint8_t> data, int mode) {
    const std::size_t window = mode < 2 ? 256 : 4096;
    const std::size_t maxLength = mode == 0 ? 255 : mode == 1 ? 257 : mode == 2 ? 17 : 15;
    const auto byte = [](std::size_t v) { return static_cast<std::uint8_t>(v); };
    std::vector<LzssToken> tokens;
    for (std::size_t k = 0, length = 1; k < data.size(); k += length) {
        // The longest match among the 1024 nearest sources the decoder reaches:
        // back to k - window + 1, or early on to position 0 (offset o is then o - 1).
        std::size_t source = 0;
        length = 1;
        for (std::size_t from = k; from-- > (k + 1 >= window ? k + 1 - window : 0) && k - from <= 1024;) {
            std::size_t n = 0;
            while (n < maxLength && k + n < data.size() && data[from + n] == data[k + n]) ++n;
            if (n > length) {
                length = n;
                source = from;
            }
        }
        if (length < 3) {
            length = 1;
            tokens.push_back(literal(data[k]));
            continue;
        }
        const std::size_t offset = k + 1 >= window ? source + window - k : source + 1;
        const std::size_t stored = mode == 1 || mode == 2 ? length - 2 : length;
        tokens.push_back(mode < 2 ? reference(byte(offset), byte(stored))
                                  : reference(byte(offset >> 4), byte((offset & 15) << 4 | stored)));
    }
    return packLzss(tokens);
}

static std::vector<std::uint8_t> withHeader(std::vector<std::uint8_t> header, std::span<const std::uint8_t> timFile,
                                            int mode) {
    header.push_back(0x10);
    const auto payload = compressLzss(timFile.subspan(1), mode);
    header.insert(header.end(), payload.begin(), payload.end());
    return header;
}

std::vector<std::uint8_t> timFormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte) {
    return withHeader({'T', 'I', 'M', modeByte, 0xA1, 0xB2, 0xC3, 0xD4}, timFile, modeByte == 1 ? 3 : modeByte % 4);
}

std::vector<std::uint8_t> bu2FormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte,
                                           char letter) {
    return withHeader({'L', 'Z', 'S', 'S', '-', 'b', 'u', '2', 0, 0, static_cast<std::uint8_t>(letter), modeByte,
                       0x11, 0x22, 0x33, 0x44},
                      timFile, modeByte % 4);
}

}  // namespace quolb::test
