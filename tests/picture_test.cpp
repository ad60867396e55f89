#include <gtest/gtest.h>

#include "picture.h"
#include "support/bmp_builder.h"

namespace quolb {
namespace {

using test::BmpBuilder;
using test::TempFile;

TEST(ReleasePicture, EmptiesDibAndPaletteAndMayBeRepeated) {
    Picture picture;
    picture.dib.assign(48, 1);
    picture.palette.assign(2, PaletteEntry{1, 2, 3, 0});
    picture.width = 7;
    releasePicture(picture);
    EXPECT_TRUE(picture.dib.empty());
    EXPECT_TRUE(picture.palette.empty());
    EXPECT_EQ(picture.width, 7);
    releasePicture(picture);
    EXPECT_TRUE(picture.dib.empty());
}

TEST(LoadPicture, BitmapLoadsResetTheArchiveOffsetWhetherOrNotTheyLoad) {
    BmpBuilder b;
    b.pixels = {1, 2, 3, 0};
    const TempFile good(b.bytes(), ".bmp");
    b.width = 0;
    const TempFile bad(b.bytes(), ".bmp");

    for (const TempFile* file : {&good, &bad}) {
        Picture picture;
        picture.path = file->path();
        picture.fileType = FileType::bitmap;
        picture.archiveOffset = 1234;
        const int result = loadPicture(picture);
        EXPECT_EQ(result, file == &good ? 1 : 0);
        EXPECT_EQ(picture.archiveOffset, 0);
        EXPECT_EQ(picture.dib.empty(), result == 0);
        EXPECT_EQ(picture.palette.empty(), result == 0);
    }
}

TEST(LoadPicture, MissingFileLeavesTheRecordAsItWas) {
    const TempFile missing(".bmp");
    Picture picture;
    picture.path = missing.path() + ".absent";
    picture.fileType = FileType::bitmap;
    picture.archiveOffset = 99;
    picture.width = 5;
    picture.dib.assign(44, 7);
    picture.palette.assign(1, PaletteEntry{9, 9, 9, 0});
    const Picture before = picture;
    std::string why;
    EXPECT_EQ(loadPicture(picture, &why), 0);
    EXPECT_EQ(why, "cannot open the file");
    EXPECT_EQ(picture.archiveOffset, before.archiveOffset);
    EXPECT_EQ(picture.width, before.width);
    EXPECT_EQ(picture.dib, before.dib);
    EXPECT_EQ(picture.palette, before.palette);
}

}  // namespace
}  // namespace quolb
