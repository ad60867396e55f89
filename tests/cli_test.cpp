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

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

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

// Each test works in a folder of its own, removed afterwards; the converter
// runs with that folder as its current directory.
struct Cli : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("quolb-cli-" + std::to_string(std::random_device{}()));
    int status = -1;
    std::string out, err;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    void run(const std::vector<std::string>& args) {  // no argument holds a quote
#ifdef _WIN32
        std::string command = "\"" QUOLB_GIF_EXE "\"";
        for (const auto& arg : args) command += " \"" + arg + "\"";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const auto create = [&](const fs::path& path) {
            return CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        const HANDLE outFile = create(dir / "out"), errFile = create(dir / "err");
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outFile;
        startup.hStdError = errFile;
        PROCESS_INFORMATION process{};
        DWORD code = static_cast<DWORD>(-1);
        if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.string().c_str(),
                           &startup, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        CloseHandle(outFile);
        CloseHandle(errFile);
        status = static_cast<int>(code);
#else
        std::string command = "cd '" + dir.string() + "' && " QUOLB_GIF_EXE;
        for (const auto& arg : args) command += " '" + arg + "'";
        command += " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
        const int result = std::system(command.c_str());
        status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
#endif
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

// Whatever names the input, the file system decides whether the GIF would
// land on it; the input then stays byte for byte and nothing is written.
TEST_F(Cli, NeverWritesOverItsInputByAnyName) {
    const Bytes bitmap = smallBitmap();
    const std::string original(bitmap.begin(), bitmap.end());
    write("cat.bmp");
    write("sub/keep.bmp");
    std::vector<std::string> spellings = {"./cat.bmp", "sub/../cat.bmp"};
#ifdef _WIN32
    spellings.insert(spellings.end(), {"CAT.BMP", ".\\cat.bmp", "sub\\..\\Cat.Bmp"});
    ASSERT_TRUE(CreateHardLinkA((dir / "link.bmp").string().c_str(), (dir / "cat.bmp").string().c_str(), nullptr));
    char shortName[MAX_PATH];
    const std::string longName = write("a rather long picture name.bmp");
    ASSERT_GT(GetShortPathNameA(longName.c_str(), shortName, MAX_PATH), 0u);
    run({"-q", "-o", shortName, longName});
    EXPECT_EQ(status, 1) << shortName;
    EXPECT_NE(err.find("the GIF would replace the input"), std::string::npos) << err;
    EXPECT_EQ(readText(longName), original);
#else
    fs::create_hard_link(dir / "cat.bmp", dir / "link.bmp");
    fs::create_symlink("cat.bmp", dir / "symlink.bmp");
    spellings.push_back("symlink.bmp");
#endif
    spellings.push_back("link.bmp");
    for (const std::string& output : spellings) {
        run({"-q", "-o", output, "cat.bmp"});
        EXPECT_EQ(status, 1) << output;
        EXPECT_NE(err.find("the GIF would replace the input"), std::string::npos) << output << ": " << err;
    }
    EXPECT_EQ(readText(dir / "cat.bmp"), original);
}

// A few hundred bytes of RLE data that claim a gigapixel are refused before
// anything is allocated; --max-pixels moves the limit.
TEST_F(Cli, RefusesPicturesOverThePixelLimit) {
    const std::string bomb = QUOLB_SOURCE_DIR "/fuzz/regressions/fuzz_bitmap/rle4-claims-a-gigapixel.bmp";
    run({"-o", "bomb.gif", bomb});
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find(": picture has 1023474177 pixels, more than the limit of 178956970 (see --max-pixels)"),
              std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "bomb.gif"));
    const std::string input = write("cat.bmp");  // 6 pixels
    run({"--max-pixels", "5", input});
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists(dir / "cat.gif"));
    run({"--max-pixels", "6", input});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(fs::exists(dir / "cat.gif"));
}

#ifndef _WIN32
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
             {"--lzw", "--info", input},
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
    // Compressed, indices 0 to 6 need a table of 8: the extension follows it.
    run({"--lzw", "--transparent", "5,250,10", "-o", (dir / "small.gif").string(), write("small.bmp")});
    const std::string small = readText(dir / "small.gif");
    ASSERT_GT(small.size(), 44u) << err;
    EXPECT_EQ(std::tuple(small[10], small[37], small[40] & 1, small[43]), std::tuple('\xF2', '\x21', 1, '\x05'));
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
    run({"--all", "--lzw", "-o", (dir / "small.gif").string(), input});
    EXPECT_LT(fs::file_size(dir / "small-003.gif"), fs::file_size(dir / "out-003.gif"));
}

#endif  // the runs above that need POSIX names or a POSIX shell

}  // namespace
}  // namespace quolb

namespace quolb {
namespace {

// A TIM picture without a colour table says its grey ramp is a stand-in, and
// --zero-transparent writes a GIF; it names its own colour rule, so it does
// not mix with --transparent.
TEST_F(Cli, SaysWhenAColourTableIsAStandInAndTakesZeroTransparent) {
    write("grey.tim", test::timFileOfKind(0x00, 1, 1, {0x21, 0x43}));
    run({"--info", "grey.tim"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(out.find("\"note\": \"the file has no colour table: a grey ramp stands in\""), std::string::npos) << out;
    run({"-q", "--zero-transparent", "grey.tim"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(fs::exists(dir / "grey.gif"));
    run({"-q", "--zero-transparent", "--transparent", "0,0,0", "grey.tim"});
    EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace quolb
