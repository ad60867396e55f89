// The converter run as a process, as a shell script would run it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tests/support/bmp_builder.h"
#include "tests/support/lzss_writer.h"
#include "tests/support/tim_builder.h"
#include "cli/naming.h"

namespace quolb {
namespace {

// Output names on the platform's own paths: only a dot in the file name is
// an extension, and --all numbers items beside that stem.
TEST(CliNaming, CutsOnlyTheFileNamesExtension) {
#ifdef _WIN32
    EXPECT_EQ(defaultOutput("D:\\photos.old\\cat.bmp"), "D:\\photos.old\\cat.gif");
    EXPECT_EQ(defaultOutput("D:\\photos.old\\cat"), "D:\\photos.old\\cat.gif");
#endif
    EXPECT_EQ(defaultOutput("photos.old/cat"), "photos.old/cat.gif");
    EXPECT_EQ(defaultOutput(".hidden"), ".hidden.gif");
    EXPECT_EQ(itemOutput("out/pack.gif", 7), "out/pack-007.gif");
}

}  // namespace
}  // namespace quolb

#ifndef _WIN32
#include <sys/wait.h>

namespace quolb {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// An 8-bit bitmap of 3 x 2 pixels; table entry 5 is (5, 250, 10), the rest black.
Bytes smallBitmap() {
    test::BmpBuilder bitmap{.width = 3, .height = 2, .bitCount = 8, .masks = {}, .table = Bytes(1024),
                            .pixels = {1, 2, 3, 0, 4, 5, 6, 0}};
    storeU32(bitmap.table.data() + 4 * 5, 0x05FA0A);
    return bitmap.bytes();
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each test works in a folder of its own, removed afterwards.
struct Cli : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("quolb-cli-" + std::to_string(std::random_device{}()));
    int status = -1;
    std::string out, err;

    void TearDown() override { fs::remove_all(dir); }

    void run(const std::vector<std::string>& args) {  // no argument holds a single quote
        std::string command = QUOLB_GIF_EXE;
        for (const auto& arg : args) command += " '" + arg + "'";
        command += " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
        const int result = std::system(command.c_str());
        status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
        out = readText(dir / "out");
        err = readText(dir / "err");
    }
    std::string write(const std::string& name, const Bytes& bytes = smallBitmap()) {
        fs::create_directories((dir / name).parent_path());
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return (dir / name).string();
    }
};

TEST_F(Cli, UsageErrorsExitTwoAndWriteNothing) {
    const std::string input = write("cat.bmp");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"--bogus", input},
             {"-o", (dir / "x.gif").string(), input, input},
             {"--transparent", "256,0,0", input},
             {"--palette", "grey", input},
             {input, write("named.gif")},  // an ending the name rule does not know: nothing converts
             {"--item", "0", input},
             {"--all", "--item", "2", input},
         }) {
        run(args);
        EXPECT_EQ(status, 2) << err;
        EXPECT_EQ(err.rfind("quolb-gif: ", 0), 0u) << err;
    }
    EXPECT_FALSE(fs::exists(dir / "cat.gif") || fs::exists(dir / "x.gif"));
}

// One run: a failure is reported while the rest convert, each beside its
// input (a dot in a folder is no extension, a path may pass 255 bytes), and
// the chosen colour reaches the GIF's control extension (entry 5).
TEST_F(Cli, ConvertsEachInputBesideItAndReportsFailures) {
    const std::string missing = (dir / "missing.bmp").string();
    const std::string longFolder = std::string(100, 'd') + "/" + std::string(100, 'd') + "/" + std::string(100, 'd');
    run({"-t", "bmp", "--transparent", "5,250,10", write("photos.old/cat"), missing, write(longFolder + "/x")});
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("quolb-gif: " + missing + ": no such file"), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(dir / longFolder / "x.gif"));
    const std::string gif = readText(dir / "photos.old" / "cat.gif");
    ASSERT_GT(gif.size(), 787u) << err;
    EXPECT_EQ(gif[784] & 1, 1);
    EXPECT_EQ(gif[787], 5);
}

// A 32-bit bitmap whose first pixel is clear: transparent unless a colour
// is named; --palette fixed writes the fixed table.
TEST_F(Cli, TrueColourOptionsReachTheGif) {
    const std::string input = write("clear.bmp", test::BmpBuilder{.headerSize = 124, .width = 2, .bitCount = 32, .compression = 3,
                                                                  .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, .table = {},
                                                                  .pixels = {30, 20, 10, 0, 50, 100, 200, 255}}.bytes());
    const auto converted = [&](std::vector<std::string> options) {
        options.push_back(input);
        run(options);
        EXPECT_EQ(status, 0) << err;
        return readText(dir / "clear.gif");
    };
    EXPECT_EQ(converted({}).substr(781, 8), std::string("\x21\xF9\x04\x01\x00\x00\x01\x00", 8)) << "entry 1 transparent";
    EXPECT_EQ(converted({"--transparent", "1,2,3"}).substr(781, 8), std::string("\x21\xF9\x04\x01\x00\x00\x02\x00", 8))
        << "the colour instead";
    EXPECT_EQ(converted({"--palette", "fixed", "--no-dither"}).substr(13, 6), std::string("\x00\x00\x00\x20\x00\x00", 6));
}

TEST_F(Cli, InfoPrintsOneJsonObjectPerInput) {
    const std::string input = write("quote\"d.bmp");
    run({"--info", input, input});
    EXPECT_EQ(status, 0) << err;
    const std::string line = "{\"path\": \"" + (dir / "quote\\\"d.bmp").string() +
                             "\", \"fileType\": \"bmp\", \"width\": 3, \"height\": 2, \"bitCount\": 8, "
                             "\"colorCount\": 256, \"imageSize\": 8}\n";
    EXPECT_EQ(out, line + line);
}

TEST_F(Cli, ArchivesListAndSplitByItem) {
    // A "TIM" form container of an 8-bit TIM of 4 x 2 pixels; mode 4 decodes nothing.
    const Bytes tim = test::timFile(test::patternTim(8, 2, 2));
    const Bytes good = test::timFormContainer(tim, 0);
    const Bytes archive = test::concat({Bytes{'x', 'y'}, good, test::timFormContainer(tim, 4), good});
    const std::string input = write("pack.xpb", archive);
    const std::string third = std::to_string(archive.size() - good.size());
    run({"--list", input});
    EXPECT_EQ(out.substr(0, out.find('\n')), "1\t2\t" + std::to_string(good.size()) + "\tTIM\t0\t4x2 8-bit");
    EXPECT_NE(out.find("no picture"), std::string::npos) << out;
    EXPECT_NE(out.find("\n3\t" + third + "\t"), std::string::npos) << out;
    run({"--info", "--item", "3", input});
    EXPECT_NE(out.find("\"item\": 3, \"archiveOffset\": " + third + ","), std::string::npos) << out;
    run({"--all", "-o", (dir / "out.gif").string(), input});
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("quolb-gif: " + input + ": item 2: "), std::string::npos) << err;
    EXPECT_TRUE(fs::exists(dir / "out-001.gif") && fs::exists(dir / "out-003.gif"));
    EXPECT_FALSE(fs::exists(dir / "out-002.gif"));
}

}  // namespace
}  // namespace quolb
#endif
