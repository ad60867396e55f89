#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "gif/packer.h"
#include "tests/support/reference_packer.h"

namespace quolb {
namespace {

// Every length through four clear codes and five sub-blocks crosses the
// 8-code byte cycle, the 253-code clear cycle and the 255-byte block cycle.
// Each goes once one code at a time, once through the fast path in rows of
// random lengths after a random number of single codes, as the writer sends.
TEST(Packer, MatchesTheBitByBitPacker) {
    std::mt19937 random(1);
    for (std::size_t count = 0; count <= 1300; ++count) {
        std::vector<std::uint8_t> codes(count);
        for (auto& code : codes) code = static_cast<std::uint8_t>(random());
        for (const std::size_t lead : {count, random() % (count + 1)}) {
            GifCodeStream stream{.clearCode = 256, .clearLimit = 253};
            GifSink sink;
            for (std::size_t i = 0; i < lead; ++i) putCode(stream, sink, codes[i], 9);
            for (std::size_t at = lead, row = 0; at < count; at += row) {
                row = std::min<std::size_t>(count - at, 1 + random() % 700);
                putLiteralCodes(stream, sink, std::span(codes).subspan(at, row));
            }
            finish(stream, sink, 257, 9);
            ASSERT_TRUE(std::ranges::equal(sinkBytes(sink), test::referenceCodeStream(codes)))
                << count << " codes, the fast path after " << lead;
        }
    }
}

}  // namespace
}  // namespace quolb
