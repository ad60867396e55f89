#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // builders name only what they change

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gif/writer.h"
#include "image/byte_reader.h"
#include "image/picture.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/load_file.h"
#include "tests/support/temp_file.h"
#include "tests/support/tim_builder.h"

namespace quolb {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LoadPicture, MissingFileLeavesTheRecordAsItWas) {
    Picture picture = test::pictureAt("quolb-no-such-file.bmp", FileType::bitmap);
    picture.archiveOffset = 99;
    picture.dib.assign(44, 7);
    std::string why;
    LoadFailure failure = LoadFailure::none;
    EXPECT_EQ(loadPicture(picture, &why, &failure), 0);
    EXPECT_EQ(why, "cannot open the file");
    EXPECT_EQ(failure, LoadFailure::cannotOpen);
    EXPECT_EQ(picture.archiveOffset, 99);
    EXPECT_EQ(picture.dib, Bytes(44, 7));
}

// The first bytes decide when the chosen type's loader refuses a file that
// plainly says what it is; otherwise the refusal says of which kind it was.
TEST(LoadPicture, FallsBackOnTheBytesAndTellsTheKindOfFailure) {
    const Bytes bitmap = test::BmpBuilder{.width = 3, .height = 2, .bitCount = 8, .table = Bytes(1024), .pixels = Bytes(8)}.bytes();
    const Bytes tim = test::timFile(test::patternTim(8, 2, 3));
    const Bytes cutBitmap(bitmap.begin(), bitmap.begin() + 30);
    const Bytes text = test::bytesOf("plain text, no picture");
    const Bytes huge = test::BmpBuilder{.width = 70000, .height = 1, .bitCount = 8}.bytes();
    struct Row { const char* what; const Bytes* bytes; FileType chosen; int loaded; FileType loadedAs; LoadFailure failure; };
    const Row rows[] = {
        {"a TIM picture read as a bitmap", &tim, FileType::bitmap, 1, FileType::tim, LoadFailure::none},
        {"a bitmap read as an archive", &bitmap, FileType::archive, 1, FileType::bitmap, LoadFailure::none},
        {"a bitmap whose name said nothing", &bitmap, FileType::none, 1, FileType::bitmap, LoadFailure::none},
        {"a cut bitmap", &cutBitmap, FileType::bitmap, 0, FileType::bitmap, LoadFailure::damaged},
        {"a cut bitmap read as a TIM picture", &cutBitmap, FileType::tim, 0, FileType::bitmap, LoadFailure::damaged},
        {"text read as a bitmap", &text, FileType::bitmap, 0, FileType::bitmap, LoadFailure::notThisType},
        {"text whose name said nothing", &text, FileType::none, 0, FileType::none, LoadFailure::notThisType},
        {"a bitmap too wide for a GIF", &huge, FileType::bitmap, 0, FileType::bitmap, LoadFailure::tooLarge},
    };
    for (const Row& row : rows) {
        const test::TempFile file(".dat", *row.bytes);
        Picture picture = test::pictureAt(file.path(), row.chosen);
        std::string why;
        LoadFailure failure = LoadFailure::cannotOpen;
        EXPECT_EQ(loadPictureAsItIs(picture, &why, &failure), row.loaded) << row.what << ": " << why;
        EXPECT_EQ(picture.fileType, row.loadedAs) << row.what;
        EXPECT_EQ(failure, row.failure) << row.what << ": " << why;
        EXPECT_EQ(picture.dib.empty(), row.loaded == 0) << row.what;
    }
    // Only loadPictureAsItIs looks at the bytes.
    const test::TempFile file(".dat", tim);
    Picture asChosen = test::pictureAt(file.path(), FileType::bitmap);
    LoadFailure failure = LoadFailure::none;
    EXPECT_EQ(loadPicture(asChosen, nullptr, &failure), 0);
    EXPECT_EQ(failure, LoadFailure::notThisType);
}

// Whether a colour is in the picture: by table entry for indexed pixels (an
// unused entry does not count), by value for direct ones.
TEST(PictureHasColour, FindsOnlyColoursOfPixels) {
    Bytes table(1024);
    storeU32(table.data() + 4 * 1, 0x102030);
    storeU32(table.data() + 4 * 2, 0x405060);  // in the table, on no pixel
    const std::pair<test::BmpBuilder, const char*> pictures[] = {
        {{.width = 3, .height = 1, .bitCount = 8, .table = table, .pixels = {0, 1, 0, 0}}, "8 bits"},
        {{.width = 3, .height = 1, .bitCount = 4, .table = Bytes(table.begin(), table.begin() + 64), .pixels = {0x00, 0x10, 0, 0}}, "4 bits"},
        {{.width = 2, .height = 1, .bitCount = 24, .pixels = {0, 0, 0, 0x30, 0x20, 0x10, 0, 0}}, "24 bits"},
    };
    for (const auto& [builder, what] : pictures) {
        const test::TempFile file(".bmp", builder.bytes());
        Picture picture = test::pictureAt(file.path(), FileType::bitmap);
        std::string why;
        ASSERT_EQ(loadPicture(picture, &why), 1) << what << ": " << why;
        EXPECT_TRUE(pictureHasColour(picture, {0x10, 0x20, 0x30})) << what;
        EXPECT_TRUE(pictureHasColour(picture, {0, 0, 0})) << what;
        EXPECT_FALSE(pictureHasColour(picture, {0x40, 0x50, 0x60})) << what;
    }
}

}  // namespace
}  // namespace quolb
