#include <gtest/gtest.h>

#include <string>

#include "paths.h"

namespace quolb {
namespace {

std::string cut(std::string path) {
    cutExtension(path.data());
    return path.c_str();
}

TEST(CutExtension, CutsAtTheLastDotAnywhereButTheFirstByte) {
    EXPECT_EQ(cut("D:\\pics\\cat.bmp"), "D:\\pics\\cat");
    EXPECT_EQ(cut("a.b.bmp"), "a.b");
    EXPECT_EQ(cut("D:\\my.pics\\cat"), "D:\\my");
    EXPECT_EQ(cut(".hidden"), ".hidden");
    EXPECT_EQ(cut("noext"), "noext");
}

}  // namespace
}  // namespace quolb
