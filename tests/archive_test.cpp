#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "archive.h"
#include "file_io.h"
#include "support/lzss_writer.h"
#include "support/picture_checks.h"
#include "support/tim_builder.h"

namespace quolb {

// Found by argument lookup from the containers' comparisons.
bool operator==(const ArchiveItem& a, const ArchiveItem& b);
bool operator==(const ArchiveItem& a, const ArchiveItem& b) { return a.offset == b.offset && a.length == b.length; }

namespace {

using test::TempFile;

std::vector<ArchiveItem> listBytes(std::span<const std::uint8_t> bytes) {
    TempFile file("scan.xpb", bytes);
    const FilePtr stream = openFile(file.path.c_str(), "rb");
    return listArchiveItems(stream.get(), measureFile(stream.get()));
}

std::vector<ArchiveItem> listText(const std::string& text) { return listBytes(test::bytesOf(text)); }

// The rule as written: one byte at a time, three bytes of look-ahead,
// stepping back to the byte after a failed "L" or "T".
std::vector<ArchiveItem> scanByteByByte(std::span<const std::uint8_t> bytes) {
    std::vector<std::int64_t> starts;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t marker = 0;
        if (bytes[i] == 'L' && i + 3 < n && bytes[i + 1] == 'Z' && bytes[i + 2] == 'S' && bytes[i + 3] == 'S')
            marker = 4;
        else if (bytes[i] == 'T' && i + 2 < n && bytes[i + 1] == 'I' && bytes[i + 2] == 'M')
            marker = 3;
        if (marker) starts.push_back(static_cast<std::int64_t>(i));
        i += marker ? marker : 1;
    }
    std::vector<ArchiveItem> items;
    for (std::size_t k = 0; k < starts.size(); ++k)
        items.push_back({starts[k], (k + 1 < starts.size() ? starts[k + 1] : static_cast<std::int64_t>(n)) - starts[k]});
    return items;
}

TEST(ArchiveScan, LookAheadStepsBackToTheByteAfterTheLetter) {
    EXPECT_EQ(listText("LLZSS"), (std::vector<ArchiveItem>{{1, 4}}));
    EXPECT_EQ(listText("TTIM"), (std::vector<ArchiveItem>{{1, 3}}));
    EXPECT_EQ(listText("LZSTIM"), (std::vector<ArchiveItem>{{3, 3}}));
    EXPECT_EQ(listText("TIMTIMLZSS"), (std::vector<ArchiveItem>{{0, 3}, {3, 3}, {6, 4}}));
    // Markers that would run past the end do not count; whole ones at the very end do.
    EXPECT_TRUE(listText("abcLZS").empty());
    EXPECT_TRUE(listText("abcTI").empty());
    EXPECT_EQ(listText("TIMabcLZS"), (std::vector<ArchiveItem>{{0, 9}}));
    EXPECT_EQ(listText("abLZSS"), (std::vector<ArchiveItem>{{2, 4}}));
    EXPECT_EQ(listText("abTIM"), (std::vector<ArchiveItem>{{2, 3}}));
    EXPECT_TRUE(listText("").empty());
}

TEST(ArchiveScan, WideSearchFindsWhatTheByteRuleFinds) {
    // Random bytes over several read pieces with near-misses and markers
    // sown everywhere, most thickly around the pieces' edges.
    std::mt19937 random(12345);
    std::vector<std::uint8_t> bytes(3 * (1u << 20) + 77);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 8 == 0 ? static_cast<unsigned char>("LZSTIM"[random() % 6]) : random());
    const char* const sown[] = {"LZSS", "TIM", "LZS", "TI", "LLZSS", "TTIM", "LZSTIM"};
    const auto sow = [&](std::size_t at) {
        const char* text = sown[random() % 7];
        for (std::size_t i = 0; text[i] && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(text[i]);
    };
    for (int i = 0; i < 3000; ++i) sow(random() % bytes.size());
    for (std::size_t edge = 1u << 20; edge < bytes.size(); edge += (1u << 20) - 3)
        for (std::size_t back = 0; back < 8; ++back) {
            auto copy = bytes;
            sow(edge - back);
            EXPECT_EQ(listBytes(bytes), scanByteByByte(bytes)) << edge << " " << back;
            bytes.swap(copy);
        }
    for (std::size_t end = 1; end <= 4; ++end) {
        std::memcpy(bytes.data() + bytes.size() - end, end == 3 ? "TIM" : "LZSS", end);
        EXPECT_EQ(listBytes(bytes), scanByteByByte(bytes)) << end;
    }
}

struct ArchiveFixture : ::testing::Test {
    test::TimSpec first = test::patternTim(8, 6, 5, 1);
    test::TimSpec second = test::patternTim(4, 3, 4, 2);
    std::vector<std::uint8_t> timItem = test::timFormContainer(test::timFile(first), 2, 2);
    std::vector<std::uint8_t> bu2Item = test::bu2FormContainer(test::timFile(second), 1, 'L');
    Picture picture;
    std::string why;

    int open(const TempFile& file) {
        why.clear();
        return test::loadBytes(picture, file, FileType::archive, &why);
    }
};

TEST_F(ArchiveFixture, StepsThroughItemsAndWraps) {
    const std::vector<std::uint8_t> junk = {0x01, 0x02};
    // The "TIM" item's payload must not hold a marker of its own.
    ASSERT_EQ(listBytes(timItem).size(), 1u);
    ASSERT_EQ(listBytes(bu2Item).size(), 1u);
    TempFile file("steps.xpb", test::concat({junk, timItem, bu2Item}));
    const auto bu2At = static_cast<std::int32_t>(2 + timItem.size());

    ASSERT_EQ(open(file), 1) << why;
    EXPECT_EQ(picture.archiveOffset, bu2At);
    test::expectPictureMatches(picture, test::expectedPicture(first), file.path + ".gif");

    ASSERT_EQ(open(file), 1) << why;
    EXPECT_EQ(picture.archiveOffset, 0);
    test::expectPictureMatches(picture, test::expectedPicture(second), file.path + ".gif");

    ASSERT_EQ(open(file), 1) << why;
    EXPECT_EQ(picture.archiveOffset, bu2At);
    EXPECT_EQ(picture.width, 12);
}

TEST_F(ArchiveFixture, SingleItemAndNoMarker) {
    TempFile single("single.xpb", bu2Item);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(open(single), 1) << why;
        EXPECT_EQ(picture.archiveOffset, 0);
    }
    TempFile none("none.xpb", test::bytesOf("no markers here: LZS TI"));
    EXPECT_EQ(open(none), 0);
    EXPECT_EQ(why, "archive holds no \"LZSS\" or \"TIM\" marker");
    EXPECT_EQ(picture.archiveOffset, 0);
    EXPECT_TRUE(picture.dib.empty());
}

TEST_F(ArchiveFixture, MarkerInsideAPayloadSplitsTheItem) {
    auto split = timItem;
    const std::size_t cut = split.size() / 2;
    std::memcpy(split.data() + cut, "TIM", 3);
    TempFile file("split.xpb", test::concat({split, bu2Item}));

    EXPECT_EQ(open(file), 0);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(cut));
    // The next open starts at the "TIM" inside the payload; it is no container.
    EXPECT_EQ(open(file), 0);
    EXPECT_EQ(why, "\"TIM\" container header does not end in 0x10");
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(split.size()));
    EXPECT_EQ(open(file), 1) << why;
    EXPECT_EQ(picture.archiveOffset, 0);
}

TEST_F(ArchiveFixture, ADifferentArchiveStartsAtItsFirstItem) {
    TempFile a("a.xpb", test::concat({timItem, bu2Item}));
    TempFile b("b.xpb", test::concat({bu2Item, timItem}));
    ASSERT_EQ(open(a), 1) << why;
    ASSERT_EQ(picture.archiveOffset, static_cast<std::int32_t>(timItem.size()));
    ASSERT_EQ(open(b), 1) << why;
    EXPECT_EQ(picture.width, 12) << "the first item of b is the 4-bit picture";
    EXPECT_EQ(picture.archiveOffset, static_cast<std::int32_t>(bu2Item.size()));
}

TEST_F(ArchiveFixture, OffsetPastTheEndFindsNothingAndStartsOver) {
    TempFile file("past.xpb", bu2Item);
    picture.path = file.path;
    picture.archivePath = file.path;
    picture.archiveOffset = 1 << 30;
    picture.fileType = FileType::archive;
    EXPECT_EQ(loadPicture(picture, &why), 0);
    EXPECT_EQ(why, "archive holds no further \"LZSS\" or \"TIM\" marker");
    EXPECT_EQ(picture.archiveOffset, 0);
}

TEST_F(ArchiveFixture, EntriesLoadWithTheirFormAndMode) {
    auto badHeader = test::bytesOf("LZSS-bu3");
    TempFile file("entries.xpb", test::concat({bu2Item, badHeader, timItem}));
    const FilePtr stream = openFile(file.path.c_str(), "rb");
    const auto items = listArchiveItems(stream.get(), measureFile(stream.get()));
    ASSERT_EQ(items.size(), 3u);
    ContainerInfo info;
    EXPECT_EQ(loadArchiveEntry(picture, stream.get(), items[0], &info, &why), 1) << why;
    EXPECT_EQ(info.form, ContainerForm::lzssBu2);
    EXPECT_EQ(info.mode, 1);
    releasePicture(picture);
    EXPECT_EQ(loadArchiveEntry(picture, stream.get(), items[1], &info, &why), 0);
    EXPECT_EQ(info.form, ContainerForm::unknown);
    EXPECT_EQ(why, "not a compressed container (unknown header)");
    EXPECT_EQ(loadArchiveEntry(picture, stream.get(), items[2], &info, &why), 1) << why;
    EXPECT_EQ(info.form, ContainerForm::tim);
    EXPECT_EQ(info.mode, 2);
    test::expectDibMatches(picture, test::expectedPicture(first));
}

}  // namespace
}  // namespace quolb

namespace quolb {
namespace {

// Every input a fuzz target ever crashed on stays here: it must load or fail
// with a reason, never crash (the sanitizer builds run this too).
TEST(FuzzRegressions, EveryKeptInputLoadsOrFailsWithAReason) {
    const auto folder = std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "regressions";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no " << folder.string();
    const std::pair<const char*, FileType> targets[] = {{"fuzz_bitmap", FileType::bitmap},
                                                        {"fuzz_tim", FileType::tim},
                                                        {"fuzz_container", FileType::container},
                                                        {"fuzz_archive", FileType::archive}};
    for (const auto& [name, type] : targets) {
        if (!std::filesystem::exists(folder / name)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder / name)) {
            if (!entry.is_regular_file()) continue;
            SCOPED_TRACE(entry.path().string());
            Picture picture;
            picture.path = entry.path().string();
            picture.fileType = type;
            for (int open = 0; open < (type == FileType::archive ? 3 : 1); ++open) {
                std::string why;
                if (loadPicture(picture, &why) == 0) {
                    EXPECT_FALSE(why.empty());
                    EXPECT_TRUE(picture.dib.empty());
                }
            }
        }
    }
}

}  // namespace
}  // namespace quolb
