#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "naming.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace quolb {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(CliNaming, CutsOnlyTheFileNamesExtension) {
    EXPECT_EQ(defaultOutput("cat.bmp"), "cat.gif");
    EXPECT_EQ(defaultOutput("a.b.bmp"), "a.b.gif");
    EXPECT_EQ(defaultOutput("photos.old/cat"), "photos.old/cat.gif");
    EXPECT_EQ(defaultOutput("photos.old/.hidden"), "photos.old/.hidden.gif");
    EXPECT_EQ(itemOutput("out/pack.gif", 7), "out/pack-007.gif");
    EXPECT_EQ(itemOutput("pack", 1234), "pack-1234.gif");
#ifdef _WIN32
    EXPECT_EQ(defaultOutput("D:\\my.pics\\cat"), "D:\\my.pics\\cat.gif");
    EXPECT_EQ(defaultOutput("D:.x"), "D:.x.gif");
#endif
}

TEST(CliNaming, ParsesColoursStrictly) {
    const auto magenta = parseColour("#Ff00fF");
    ASSERT_TRUE(magenta);
    EXPECT_EQ(magenta->red, 255);
    EXPECT_EQ(magenta->green, 0);
    EXPECT_EQ(magenta->blue, 255);
    const auto decimal = parseColour("1,20,255");
    ASSERT_TRUE(decimal);
    EXPECT_EQ(decimal->green, 20);
    for (const char* bad : {"", "#", "#12345", "#1234567", "#GG0000", "1,2", "1,2,3,4", "256,0,0", "-1,0,0",
                            "1,,3", " 1,2,3", "1,2,3 ", "0001,2,3"})
        EXPECT_FALSE(parseColour(bad)) << bad;
}

#ifndef _WIN32

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string readText(const fs::path& path) {
    std::string text(fs::exists(path) ? fs::file_size(path) : 0, '\0');
    std::ifstream(path, std::ios::binary).read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void put(Bytes& out, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// An 8-bit bitmap of 3 x 2 pixels whose table entry i is (i, 255 - i, 2i).
Bytes smallBitmap() {
    Bytes out{'B', 'M'};
    put(out, 14 + 40 + 1024 + 8, 4);
    put(out, 0, 4);
    put(out, 14 + 40 + 1024, 4);
    for (const std::uint32_t field : {40u, 3u, 2u}) put(out, field, 4);
    put(out, 1, 2);
    put(out, 8, 2);
    for (int i = 0; i < 6; ++i) put(out, 0, 4);
    for (unsigned i = 0; i < 256; ++i) put(out, (2 * i & 255) | (255 - i) << 8 | i << 16, 4);
    for (const int pixel : {1, 2, 3, 0, 4, 5, 6, 0}) out.push_back(static_cast<std::uint8_t>(pixel));
    return out;
}

// A "TIM" form container, mode 0, all literals, holding an 8-bit TIM picture
// of 4 x 2 pixels.
Bytes timItem(std::uint8_t modeByte = 0) {
    Bytes tim{0, 0, 0, 9, 0, 0, 0};  // the TIM file from its second byte
    put(tim, 12 + 512, 4);
    put(tim, 0, 4);
    put(tim, 0, 4);
    for (unsigned i = 0; i < 256; ++i) put(tim, i & 0x1F, 2);
    put(tim, 0, 4);
    put(tim, 0, 4);
    put(tim, 2, 2);
    put(tim, 2, 2);
    for (std::uint8_t i = 0; i < 8; ++i) tim.push_back(i);
    Bytes out{'T', 'I', 'M', modeByte, 0, 0, 0, 0, 0x10};
    for (std::size_t i = 0; i < tim.size(); ++i) {
        if (i % 8 == 0) out.push_back(0);  // flag byte: eight literals
        out.push_back(tim[i]);
    }
    return out;
}

// Each test works in a folder of its own, removed afterwards.
class Cli : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        dir = fs::temp_directory_path() / ("quolb-cli-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    Result run(const std::vector<std::string>& args) {
        std::string command = quoted(QUOLB_GIF_EXE);
        for (const auto& arg : args) command += " " + quoted(arg);
        command += " >" + quoted((dir / "stdout").string()) + " 2>" + quoted((dir / "stderr").string());
        Result result;
        const int status = std::system(command.c_str());
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readText(dir / "stdout");
        result.err = readText(dir / "stderr");
        return result;
    }

    std::string bitmap(const std::string& name) {
        const fs::path path = dir / name;
        fs::create_directories(path.parent_path());
        writeBytes(path, smallBitmap());
        return path.string();
    }
};

TEST_F(Cli, UsageErrorsExitTwoAndWriteNothing) {
    const std::string input = bitmap("cat.bmp");
    const std::string gifNamed = bitmap("named.gif");
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {"--bogus", input},
        {"-o", (dir / "x.gif").string(), input, input},
        {"--transparent", "1,2", input},
        {"--transparent", "#12345", input},
        {"--transparent", "256,0,0", input},
        {"-t", "gif", input},
        {input, gifNamed},  // an ending the name rule does not know: nothing converts
        {"--item", "0", input},
        {"--all", "--item", "2", input},
        {"--info", "-o", (dir / "x.gif").string(), input},
    };
    for (const auto& args : mistakes) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("quolb-gif: ", 0), 0u) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "cat.gif"));
    EXPECT_FALSE(fs::exists(dir / "x.gif"));
}

TEST_F(Cli, HelpAndVersionExitZero) {
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: quolb-gif [OPTIONS] INPUT..."), std::string::npos);
    EXPECT_NE(help.out.find("--transparent COLOR"), std::string::npos);
    EXPECT_EQ(run({"--version"}).out.rfind("quolb-gif ", 0), 0u);
}

TEST_F(Cli, AFailedInputIsReportedAndTheOthersStillConvert) {
    const std::string first = bitmap("a.bmp");
    const std::string missing = (dir / "missing.bmp").string();
    const std::string broken = (dir / "broken.bmp").string();
    Bytes truncated = smallBitmap();
    truncated.resize(100);
    writeBytes(broken, truncated);
    const std::string last = bitmap("b.bmp");

    const Result r = run({first, missing, broken, last});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("quolb-gif: " + missing + ": no such file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("quolb-gif: " + broken + ": "), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "a.gif"));
    EXPECT_TRUE(fs::exists(dir / "b.gif"));
    EXPECT_FALSE(fs::exists(dir / "broken.gif"));  // a refused input leaves no GIF
}

TEST_F(Cli, DefaultNamesStayInTheInputsFolder) {
    const std::string dotted = bitmap("photos.old/cat");
    const std::string twoDots = bitmap("a.b.bmp");
    const Result r = run({"-t", "bmp", dotted, twoDots});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "photos.old" / "cat.gif"));
    EXPECT_FALSE(fs::exists(dir / "photos.gif"));
    EXPECT_TRUE(fs::exists(dir / "a.b.gif"));
}

TEST_F(Cli, NeverWritesTheGifOverItsInput) {
    const std::string input = bitmap("picture.gif");
    const Result r = run({"-t", "bmp", input});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("would replace the input"), std::string::npos) << r.err;
    EXPECT_EQ(readText(input).substr(0, 2), "BM");
}

TEST_F(Cli, InfoPrintsOneJsonObjectPerInput) {
    const std::string input = bitmap("quote\"d.bmp");
    const Result r = run({"--info", input, input});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string escaped = input;
    escaped.replace(escaped.find('"'), 1, "\\\"");
    const std::string line = "{\"path\": \"" + escaped +
                             "\", \"fileType\": \"bmp\", \"width\": 3, \"height\": 2, \"bitCount\": 8, "
                             "\"colorCount\": 256, \"imageSize\": 8}\n";
    EXPECT_EQ(r.out, line + line);
    EXPECT_FALSE(fs::exists(dir / "quote\"d.gif"));
}

TEST_F(Cli, TransparentColourReachesTheControlExtension) {
    const std::string input = bitmap("cat.bmp");
    const std::string gif = (dir / "cat.gif").string();
    // Table entry 5 is (5, 250, 10).
    for (const char* colour : {"#05FA0A", "5,250,10"}) {
        ASSERT_EQ(run({"--transparent", colour, input}).status, 0) << colour;
        const std::string bytes = readText(gif);
        ASSERT_GT(bytes.size(), 787u);
        EXPECT_EQ(bytes[784] & 1, 1) << colour;
        EXPECT_EQ(static_cast<unsigned char>(bytes[787]), 5u) << colour;
    }
    ASSERT_EQ(run({input}).status, 0);
    EXPECT_EQ(readText(gif)[784] & 1, 0);
}

TEST_F(Cli, PathsLongerThan255BytesWork) {
    const std::string part(100, 'd');
    const std::string input = bitmap(part + "/" + part + "/" + part + "/picture.bmp");
    ASSERT_GT(input.size(), 300u);
    const Result r = run({input});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(defaultOutput(input)));
}

TEST_F(Cli, ArchivesConvertListAndSplitByItem) {
    const Bytes good = timItem();
    const Bytes empty = timItem(4);  // mode 4 decodes nothing
    Bytes archive{'x', 'y'};
    for (const Bytes* item : {&good, &empty, &good}) archive.insert(archive.end(), item->begin(), item->end());
    const std::string input = (dir / "pack.xpb").string();
    writeBytes(input, archive);
    const std::string third = std::to_string(2 + good.size() + empty.size());

    Result r = run({"--list", input});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "1\t2\t" + std::to_string(good.size()) + "\tTIM\t0\t4x2 8-bit");
    EXPECT_NE(r.out.find("\n2\t" + std::to_string(2 + good.size()) + "\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no picture"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n3\t" + third + "\t"), std::string::npos) << r.out;

    r = run({"--info", "--item", "3", input});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"item\": 3, \"archiveOffset\": " + third + ","), std::string::npos) << r.out;

    r = run({"--all", "-o", (dir / "out.gif").string(), input});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("quolb-gif: " + input + ": item 2: "), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out-001.gif"));
    EXPECT_FALSE(fs::exists(dir / "out-002.gif"));
    EXPECT_TRUE(fs::exists(dir / "out-003.gif"));

    r = run({input});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "pack.gif"));
    EXPECT_EQ(run({"--item", "4", input}).status, 1);
}

#endif  // _WIN32

}  // namespace
}  // namespace quolb
