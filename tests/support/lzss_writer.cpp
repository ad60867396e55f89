#include "lzss_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quolb::test {

namespace {

std::size_t pairAt(std::span<const std::uint8_t> data, std::size_t at) {
    return std::size_t{data[at]} | std::size_t{data[at + 1]} << 8;
}

}  // namespace

std::vector<std::uint8_t> packLzss(std::span<const LzssToken> tokens) {
    std::vector<std::uint8_t> out;
    for (std::size_t group = 0; group < tokens.size(); group += 8) {
        const std::size_t flagAt = out.size();
        out.push_back(0);
        for (std::size_t i = group; i < std::min(tokens.size(), group + 8); ++i) {
            const LzssToken& token = tokens[i];
            out.push_back(token.b1);
            if (token.reference) {
                out[flagAt] = static_cast<std::uint8_t>(out[flagAt] | 0x80 >> (i - group));
                out.push_back(token.b2);
            }
        }
    }
    return out;
}

std::vector<LzssToken> compressTokens(std::span<const std::uint8_t> data, int mode) {
    const std::size_t window = mode < 2 ? 256 : 4096;
    const std::size_t maxLength = mode == 0 ? 255 : mode == 1 ? 257 : mode == 2 ? 17 : 15;
    constexpr std::size_t minLength = 3;
    constexpr std::size_t maxCandidates = 48;

    // The positions where each two-byte pair was seen, most recent last.
    std::vector<std::vector<std::uint32_t>> seen(65536);
    std::vector<LzssToken> tokens;
    std::size_t k = 0;
    const auto remember = [&](std::size_t at) {
        if (at + 1 < data.size()) seen[pairAt(data, at)].push_back(static_cast<std::uint32_t>(at));
    };
    while (k < data.size()) {
        // Sources the decoder can reach from k: [max(k - window, -1) + 1 ... k - 1],
        // offset 0 too once k >= window - 1.
        const std::size_t lowest = k + 1 >= window ? k + 1 - window : 0;
        std::size_t bestLength = 0;
        std::size_t bestSource = 0;
        if (k + 1 < data.size()) {
            const auto& list = seen[pairAt(data, k)];
            std::size_t tried = 0;
            for (auto it = list.rbegin(); it != list.rend() && tried < maxCandidates; ++it, ++tried) {
                const std::size_t source = *it;
                if (source < lowest) break;
                std::size_t length = 0;
                while (length < maxLength && k + length < data.size() && data[source + length] == data[k + length])
                    ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestSource = source;
                }
            }
        }
        if (bestLength >= minLength) {
            const std::size_t offset = k + 1 >= window ? bestSource - (k - window) : bestSource + 1;
            std::uint8_t b1 = 0;
            std::uint8_t b2 = 0;
            if (mode < 2) {
                b1 = static_cast<std::uint8_t>(offset);
                b2 = static_cast<std::uint8_t>(mode == 0 ? bestLength : bestLength - 2);
            } else {
                b1 = static_cast<std::uint8_t>(offset >> 4);
                b2 = static_cast<std::uint8_t>((offset & 15) << 4 | (mode == 2 ? bestLength - 2 : bestLength));
            }
            tokens.push_back(reference(b1, b2));
            for (std::size_t i = 0; i < bestLength; ++i) remember(k + i);
            k += bestLength;
        } else {
            tokens.push_back(literal(data[k]));
            remember(k);
            ++k;
        }
    }
    return tokens;
}

std::vector<std::uint8_t> compressLzss(std::span<const std::uint8_t> data, int mode) {
    return packLzss(compressTokens(data, mode));
}

namespace {

std::vector<std::uint8_t> withHeader(std::vector<std::uint8_t> header, std::span<const std::uint8_t> timFile,
                                     int mode) {
    // The TIM file's first byte ends the header; the rest is the payload.
    header.push_back(timFile.empty() ? 0x10 : timFile[0]);
    const auto payload = compressLzss(timFile.empty() ? timFile : timFile.subspan(1), mode);
    header.insert(header.end(), payload.begin(), payload.end());
    return header;
}

}  // namespace

std::vector<std::uint8_t> timFormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte,
                                           int compressMode) {
    return withHeader({'T', 'I', 'M', modeByte, 0xA1, 0xB2, 0xC3, 0xD4}, timFile, compressMode);
}

std::vector<std::uint8_t> bu2FormContainer(std::span<const std::uint8_t> timFile, std::uint8_t modeByte,
                                           char letter) {
    return withHeader({'L', 'Z', 'S', 'S', '-', 'b', 'u', '2', 0x00, 0x00, static_cast<std::uint8_t>(letter),
                       modeByte, 0x11, 0x22, 0x33, 0x44},
                      timFile, modeByte);
}

}  // namespace quolb::test
