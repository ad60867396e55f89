#include <gtest/gtest.h>

#include <random>

#include "image/archive.h"
#include "image/file_io.h"
#include "tests/support/lzss_writer.h"
#include "tests/support/picture_checks.h"

namespace quolb {
namespace {

// Item starts, as the scan lists them.
std::vector<std::int64_t> listBytes(const std::string& bytes) {
    test::TempFile file("scan.xpb", test::bytesOf(bytes));
    const FilePtr stream = openFile(file.path().c_str(), "rb");
    std::vector<std::int64_t> out;
    for (const auto& item : listArchiveItems(stream.get(), measureFile(stream.get()))) out.push_back(item.offset);
    return out;
}

// The rule as written: a byte at a time, stepping past a whole marker or one byte.
std::vector<std::int64_t> scanByteByByte(const std::string& bytes) {
    std::vector<std::int64_t> out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t marker = bytes.compare(i, 4, "LZSS") == 0 ? 4 : bytes.compare(i, 3, "TIM") == 0 ? 3 : 0;
        if (marker != 0) out.push_back(static_cast<std::int64_t>(i));
        i += marker != 0 ? marker - 1 : 0;
    }
    return out;
}

TEST(ArchiveScan, MatchesTheByteByByteRule) {
    // A failed "L" or "T" steps on one byte; markers that would run past the end do not count.
    for (const char* text : {"LLZSS", "TTIM", "LZSTIM", "TIMTIMLZSS", "abcLZS", "abcTI", "TIMabcLZS", "abLZSS", "abTIM", ""})
        EXPECT_EQ(listBytes(text), scanByteByByte(text)) << text;
    // Random bytes over several read pieces, markers and near-misses sown
    // everywhere and most thickly around the pieces' edges.
    std::mt19937 random(12345);
    std::string bytes(3 * (1u << 20) + 77, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() % 8 ? random() : static_cast<unsigned char>("LZSTIM"[random() % 6]));
    const std::string sown[] = {"LZSS", "TIM", "LZS", "TI", "LLZSS", "TTIM", "LZSTIM"};
    const auto sow = [&](std::size_t at) { bytes.replace(at, 6, sown[random() % 7]).resize(3 * (1u << 20) + 77); };
    for (int i = 0; i < 3000; ++i) sow(random() % bytes.size());
    for (std::size_t back = 0; back < 8; ++back) {
        for (std::size_t edge = 1u << 20; edge < bytes.size(); edge += (1u << 20) - 3) sow(edge - back);
        EXPECT_EQ(listBytes(bytes), scanByteByByte(bytes)) << back;
    }
}

TEST(Archive, StepsThroughItemsSplitsAtAMarkerInAPayloadAndStartsADifferentArchiveAtItsFirst) {
    const auto first = test::patternTim(8, 6, 5);
    const auto timItem = test::timFormContainer(test::timFile(first), 2);
    const auto bu2Item = test::bu2FormContainer(test::timFile(test::patternTim(4, 3, 4)), 1, 'L');
    test::Loaded loaded;
    const Picture& picture = loaded.picture;
    const auto open = [&](const test::TempFile& file) {
        test::loadFile(loaded, file.path(), FileType::archive);
        return loaded.why;
    };
    // 1, 2, 1: each opening of the same archive takes the next item, then wraps.
    test::TempFile file("steps.xpb", test::concat({test::bytesOf("\x01\x02"), timItem, bu2Item}));
    for (const auto next : {2 + timItem.size(), std::size_t{0}, 2 + timItem.size()}) {
        ASSERT_EQ(open(file), "");
        EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(next));
        test::expectPictureMatches(picture, next ? first : test::patternTim(4, 3, 4));
    }
    test::TempFile none("none.xpb", test::bytesOf("no markers here: LZS TI"));
    EXPECT_EQ(open(none), "archive holds no \"LZSS\" or \"TIM\" marker");
    auto split = timItem;
    const std::size_t cut = split.size() / 2;
    std::copy_n("TIM", 3, split.begin() + static_cast<std::ptrdiff_t>(cut));
    test::TempFile splitFile("split.xpb", test::concat({split, bu2Item}));
    EXPECT_NE(open(splitFile), "");
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(cut));
    EXPECT_EQ(open(splitFile), "\"TIM\" container header does not end in 0x10");
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(split.size()));
    test::TempFile other("other.xpb", test::concat({bu2Item, timItem}));
    ASSERT_EQ(open(other), "");
    EXPECT_EQ(picture.colorCount, 16) << "the first item of the other archive is the 4-bit picture";
}

}  // namespace
}  // namespace quolb
