#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/picture.h"

namespace quolb {
namespace {

TEST(LoadPicture, MissingFileLeavesTheRecordAsItWas) {
    Picture picture;
    picture.path = "quolb-no-such-file.bmp";
    picture.fileType = FileType::bitmap;
    picture.archiveOffset = 99;
    picture.dib.assign(44, 7);
    std::string why;
    EXPECT_EQ(loadPicture(picture, &why), 0);
    EXPECT_EQ(why, "cannot open the file");
    EXPECT_EQ(picture.archiveOffset, 99);
    EXPECT_EQ(picture.dib, std::vector<std::uint8_t>(44, 7));
}

}  // namespace
}  // namespace quolb
