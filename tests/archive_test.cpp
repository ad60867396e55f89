#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "archive.h"
#include "file_io.h"
#include "support/lzss_writer.h"
#include "support/picture_checks.h"

namespace quolb {
namespace {

// Item starts, as offset/length pairs.
std::vector<std::int64_t> listBytes(std::span<const std::uint8_t> bytes) {
    test::TempFile file("scan.xpb", bytes);
    const FilePtr stream = openFile(file.path().c_str(), "rb");
    std::vector<std::int64_t> out;
    for (const auto& item : listArchiveItems(stream.get(), measureFile(stream.get())))
        out.insert(out.end(), {item.offset, item.length});
    return out;
}

// The rule as written: a byte at a time, stepping past a whole marker or one byte.
std::vector<std::int64_t> scanByteByByte(std::span<const std::uint8_t> bytes) {
    std::vector<std::int64_t> out;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::string_view rest(reinterpret_cast<const char*>(bytes.data()) + i, bytes.size() - i);
        const std::size_t marker = rest.starts_with("LZSS") ? 4 : rest.starts_with("TIM") ? 3 : 0;
        if (marker && !out.empty()) out.push_back(static_cast<std::int64_t>(i) - out.back());
        if (marker) out.push_back(static_cast<std::int64_t>(i));
        i += marker ? marker : 1;
    }
    if (!out.empty()) out.push_back(static_cast<std::int64_t>(bytes.size()) - out.back());
    return out;
}

TEST(ArchiveScan, MatchesTheByteByByteRule) {
    // A failed "L" or "T" steps on one byte; markers that would run past the end do not count.
    const std::pair<std::string, std::vector<std::int64_t>> small[] = {
        {"LLZSS", {1, 4}}, {"TTIM", {1, 3}}, {"LZSTIM", {3, 3}}, {"TIMTIMLZSS", {0, 3, 3, 3, 6, 4}},
        {"abcLZS", {}}, {"abcTI", {}}, {"TIMabcLZS", {0, 9}}, {"abLZSS", {2, 4}}, {"abTIM", {2, 3}}, {"", {}}};
    for (const auto& [text, items] : small) EXPECT_EQ(listBytes(test::bytesOf(text)), items) << text;
    // Random bytes over several read pieces, markers and near-misses sown
    // everywhere and most thickly around the pieces' edges and the end.
    std::mt19937 random(12345);
    std::vector<std::uint8_t> bytes(3 * (1u << 20) + 77);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random() % 8 ? random() : static_cast<unsigned char>("LZSTIM"[random() % 6]));
    const char* const sown[] = {"LZSS", "TIM", "LZS", "TI", "LLZSS", "TTIM", "LZSTIM"};
    const auto sow = [&](std::size_t at) {
        for (const char* text = sown[random() % 7]; *text && at < bytes.size(); ++text)
            bytes[at++] = static_cast<std::uint8_t>(*text);
    };
    for (int i = 0; i < 3000; ++i) sow(random() % bytes.size());
    for (std::size_t back = 0; back < 8; ++back) {
        for (std::size_t edge = 1u << 20; edge < bytes.size(); edge += (1u << 20) - 3) sow(edge - back);
        EXPECT_EQ(listBytes(bytes), scanByteByByte(bytes)) << back;
    }
    for (std::size_t end = 1; end <= 4; ++end) {
        std::memcpy(bytes.data() + bytes.size() - end, end == 3 ? "TIM" : "LZSS", end);
        EXPECT_EQ(listBytes(bytes), scanByteByByte(bytes)) << end;
    }
}

struct Archive : ::testing::Test {
    test::TimSpec first = test::patternTim(8, 6, 5, 1);
    test::TimSpec second = test::patternTim(4, 3, 4, 2);
    std::vector<std::uint8_t> timItem = test::timFormContainer(test::timFile(first), 2);
    std::vector<std::uint8_t> bu2Item = test::bu2FormContainer(test::timFile(second), 1, 'L');
    Picture picture;
    std::string why;

    int open(const test::TempFile& file) {
        why.clear();
        return test::loadFile(picture, file, FileType::archive, &why);
    }
};

TEST_F(Archive, StepsThroughItemsAndWraps) {
    ASSERT_EQ(listBytes(timItem).size(), 2u) << "the \"TIM\" item's payload must hold no marker";
    test::TempFile file("steps.xpb", test::concat({test::bytesOf("\x01\x02"), timItem, bu2Item}));
    const auto bu2At = static_cast<std::int32_t>(2 + timItem.size());
    for (const auto& [spec, next] : {std::pair{first, bu2At}, {second, 0}, {first, bu2At}}) {
        ASSERT_EQ(open(file), 1) << why;
        EXPECT_EQ(picture.archiveOffset, next);
        test::expectPictureMatches(picture, spec, file.path() + ".gif");
    }
    test::TempFile none("none.xpb", test::bytesOf("no markers here: LZS TI"));
    EXPECT_EQ(open(none), 0);
    EXPECT_EQ(why, "archive holds no \"LZSS\" or \"TIM\" marker");
}

TEST_F(Archive, AMarkerInsideAPayloadSplitsTheItem) {
    auto split = timItem;
    const std::size_t cut = split.size() / 2;
    std::memcpy(split.data() + cut, "TIM", 3);
    test::TempFile file("split.xpb", test::concat({split, bu2Item}));
    EXPECT_EQ(open(file), 0);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(cut));
    EXPECT_EQ(open(file), 0);
    EXPECT_EQ(why, "\"TIM\" container header does not end in 0x10");
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(split.size()));
    EXPECT_EQ(open(file), 1) << why;
    EXPECT_EQ(picture.archiveOffset, 0);
}

TEST_F(Archive, ADifferentArchiveStartsAtItsFirstItem) {
    test::TempFile a("a.xpb", test::concat({timItem, bu2Item}));
    test::TempFile b("b.xpb", test::concat({bu2Item, timItem}));
    ASSERT_EQ(open(a), 1) << why;
    ASSERT_EQ(picture.archiveOffset, static_cast<std::int32_t>(timItem.size()));
    ASSERT_EQ(open(b), 1) << why;
    EXPECT_EQ(picture.width, 12) << "the first item of b is the 4-bit picture";
}

// Every input a fuzz target ever crashed on stays here: it must load or fail
// with a reason, never crash (the sanitizer builds run this too).
TEST(FuzzRegressions, EveryKeptInputLoadsOrFailsWithAReason) {
    const auto folder = std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "regressions";
    const std::pair<const char*, FileType> targets[] = {{"fuzz_bitmap", FileType::bitmap},
                                                        {"fuzz_tim", FileType::tim},
                                                        {"fuzz_container", FileType::container},
                                                        {"fuzz_archive", FileType::archive}};
    for (const auto& [name, type] : targets) {
        std::error_code none;
        for (const auto& entry : std::filesystem::directory_iterator(folder / name, none)) {
            SCOPED_TRACE(entry.path().string());
            Picture picture;
            picture.path = entry.path().string();
            picture.fileType = type;
            for (int open = 0; open < 3; ++open) {
                std::string why;
                if (loadPicture(picture, &why) == 0) {
                    EXPECT_TRUE(!why.empty() && picture.dib.empty());
                }
            }
        }
    }
}

}  // namespace
}  // namespace quolb
