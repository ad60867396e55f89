// The converter run as a process, as a shell script would run it.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"  // rows name only what they change
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

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quolb {
namespace {

// Output names on the platform's own paths: only a dot in the file name is
// an extension, and --all numbers items beside that stem.
TEST(CliNaming, CutsOnlyTheFileNamesExtension) {
#ifdef _WIN32
    EXPECT_EQ(defaultOutput("D:\\photos.old\\cat.bmp"), "D:\\photos.old\\cat.gif");
    EXPECT_EQ(defaultOutput("D:\\photos.old\\cat"), "D:\\photos.old\\cat.gif");
#endif
    EXPECT_EQ(defaultOutput(".hidden"), ".hidden.gif");
    EXPECT_EQ(itemOutput("out/pack.gif", 7, 4), "out/pack-0007.gif");
}

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// An 8-bit bitmap of 3 x 2 pixels; table entry 5 is (5, 250, 10), the rest black.
Bytes smallBitmap(Bytes pixels = {1, 2, 3, 0, 4, 5, 6, 0}) {
    test::BmpBuilder bitmap{.width = 3, .height = 2, .bitCount = 8, .table = Bytes(1024), .pixels = pixels};
    storeU32(bitmap.table.data() + 4 * 5, 0x05FA0A);
    return bitmap.bytes();
}

// A name written in this file's UTF-8, as the system's path.
fs::path utf8(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string asText(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// Each test works in a folder of its own, removed afterwards; the converter
// runs with that folder as its current directory.
struct Cli : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("quolb-cli-" + std::to_string(std::random_device{}()));
    int status = -1;
    std::string out, err;
    std::string program = QUOLB_GIF_EXE;  // the converter run

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // `prefix` goes before the converter in the shell's command (another
    // user, a pipe into it), natively only.
    void run(const std::vector<std::string>& args, [[maybe_unused]] const std::string& prefix = "") {  // no argument holds a quote
#ifdef _WIN32
        // Wide, so that names of every script reach the converter.
        std::string command = prefix.empty() ? "\"" + program + "\"" : prefix;
        for (const auto& arg : args) command += " \"" + arg + "\"";
        std::wstring wide = utf8(command).wstring();
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const auto create = [&](const fs::path& path) {
            return CreateFileA(path.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        const HANDLE outFile = create(dir / "out"), errFile = create(dir / "err");
        STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW), .dwFlags = STARTF_USESTDHANDLES,
                             .hStdInput = GetStdHandle(STD_INPUT_HANDLE), .hStdOutput = outFile, .hStdError = errFile};
        PROCESS_INFORMATION process{};
        DWORD code = static_cast<DWORD>(-1);
        if (CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.wstring().c_str(),
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
        std::string command = "cd '" + dir.string() + "' && " + prefix + " '" + program + "'";
        for (const auto& arg : args) command += " '" + arg + "'";
        command += " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
        const int result = std::system(command.c_str());
        status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
#endif
        out = readText(dir / "out");
        err = readText(dir / "err");
    }
    std::string write(const std::string& name, const Bytes& bytes = smallBitmap()) {
        const fs::path path = dir / utf8(name);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    }
    // The last run ended with `code`, and its standard error holds `text`.
    testing::AssertionResult failedWith(int code, const std::string& text) const {
        if (status == code && err.find(text) != std::string::npos) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "status " << status << ", standard error: " << err;
    }
    // Whether a temporary file of the converter's is left in the folder.
    bool tempLeft() const {
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().filename().string().starts_with(".quolb")) return true;
        return false;
    }
};

// Whatever names the input, the file system decides whether the GIF would
// land on it; the input then stays byte for byte and nothing is written.
TEST_F(Cli, NeverWritesOverItsInputByAnyName) {
    const std::string original = asText(smallBitmap());
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
    EXPECT_TRUE(failedWith(2, "the GIF would replace the input")) << shortName;
    EXPECT_EQ(readText(longName), original);
#else
    fs::create_hard_link(dir / "cat.bmp", dir / "link.bmp");
    fs::create_symlink("cat.bmp", dir / "symlink.bmp");
    spellings.push_back("symlink.bmp");
#endif
    spellings.push_back("link.bmp");
    for (const std::string& output : spellings) {
        run({"-q", "-o", output, "cat.bmp"});
        EXPECT_TRUE(failedWith(2, "the GIF would replace the input")) << output;
    }
    EXPECT_EQ(readText(dir / "cat.bmp"), original);
}

// A few hundred bytes of RLE data that claim a gigapixel are refused before
// anything is allocated; --max-pixels moves the limit.
TEST_F(Cli, RefusesPicturesOverThePixelLimit) {
    const std::string bomb = QUOLB_SOURCE_DIR "/fuzz/regressions/fuzz_bitmap/rle4-claims-a-gigapixel.bmp";
    run({"-o", "bomb.gif", bomb});
    EXPECT_TRUE(failedWith(1, ": picture has 1023474177 pixels, more than the limit of 178956970 (see --max-pixels)"));
    EXPECT_FALSE(fs::exists(dir / "bomb.gif"));
    const std::string input = write("cat.bmp");  // 6 pixels
    run({"--max-pixels", "5", input});
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists(dir / "cat.gif"));
    run({"--max-pixels", "6", input});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(fs::exists(dir / "cat.gif"));
}

#ifdef _WIN32
// Every name a Windows user can type reaches its own file (café.bmp is not
// cafe.bmp), wildcards expand as in other Windows tools, and NUL is the
// null device.
TEST_F(Cli, TakesEveryWindowsName) {
    write("café.bmp");
    write("cafe.bmp", test::BmpBuilder{.width = 5, .height = 1, .bitCount = 8, .table = Bytes(1024), .pixels = Bytes(8)}.bytes());
    write("그림.bmp");
    write("😀.bmp");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"café.bmp"}, {"-o", "résumé.gif", "café.bmp"}, {"그림.bmp", "😀.bmp"}, {"-o", "NUL", "café.bmp"}}) {
        run(args);
        EXPECT_EQ(status, 0) << args.back() << ": " << err;
    }
    for (const char* name : {"café.gif", "résumé.gif", "그림.gif", "😀.gif"}) EXPECT_TRUE(fs::exists(dir / utf8(name))) << name;
    EXPECT_FALSE(fs::exists(dir / "cafe.gif") || fs::exists(dir / "resume.gif"));
    run({"--info", "café.bmp"});
    EXPECT_NE(out.find("\"café.bmp\", \"fileType\": \"bmp\", \"width\": 3"), std::string::npos) << out;

    fs::copy_file(QUOLB_GIF_EXE, dir / "quolb-gif.exe");
    fs::remove(dir / utf8("café.gif"));
    run({"-q", "*.bmp"}, "cmd /c quolb-gif.exe");
    EXPECT_EQ(status, 0) << err;
    for (const char* name : {"cafe.gif", "café.gif", "그림.gif", "😀.gif"}) EXPECT_TRUE(fs::exists(dir / utf8(name))) << name;

    // Standard input and output carry bytes untranslated; a read-only file stays.
    run({}, "cmd /c quolb-gif.exe -t bmp - -o - < cafe.bmp > piped.gif");
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(readText(dir / "piped.gif"), readText(dir / "cafe.gif"));
    fs::permissions(dir / "cafe.gif", fs::perms::owner_write, fs::perm_options::remove);
    run({"-o", "cafe.gif", "café.bmp"});
    EXPECT_TRUE(failedWith(1, "cafe.gif: cannot replace the file: permission denied"));
    fs::permissions(dir / "cafe.gif", fs::perms::owner_write, fs::perm_options::add);  // so it can be removed
}
#else
bool isGif(const std::string& bytes) { return bytes.rfind("GIF89a", 0) == 0 && bytes.back() == 0x3B; }

// Usage errors exit with 2, name the program and write nothing; the
// program speaks for its argument parser. A run settles every output before
// converting anything: two inputs aiming at one GIF, or a GIF landing on any
// input of the run, is a usage error naming both.
TEST_F(Cli, UsageErrorsExitTwoAndWriteNothing) {
    const std::string input = write("cat.bmp");
    write("sample.bmp");
    write("sample.tim", test::timFile(test::patternTim(8, 2, 2)));
    write("pic.dib");
    write("pic.gif", Bytes(100, 'B'));
    write("a/x.bmp");
    write("b/x.bmp");
    fs::create_directory_symlink(".", dir / "here");
    const struct { std::vector<std::string> args; std::string message, prefix; } cases[] = {
        {{}, "no input given"},
        {{"--bogus", input}, ""},
        {{"-o", (dir / "x.gif").string(), input, input}, ""},
        {{"--transparent", "256,0,0", input}, ""},
        {{"--palette", "grey", input}, "--palette: 'grey' is not adaptive or fixed"},
        {{input, write("named.gif")}, ""},  // an ending the name rule does not know: nothing converts
        {{"--item", "0", input}, ""},
        {{"--item", "x", input}, "--item: 'x' is not a number"},
        {{"--all", "--item", "2", input}, "cannot be used together"},
        {{"-o", "", input}, ""},
        {{"-o", "a.gif", "-o", "b.gif", input}, "--output may be given only once"},
        {{"--lzw", "--info", input}, ""},
        {{"--zero-transparent", "--transparent", "0,0,0", input}, ""},  // it names its own colour rule
        {{"sample.bmp", "sample.tim"}, "quolb-gif: sample.bmp and sample.tim would both be written to sample.gif"},
        {{"sample.bmp", (dir / "sample.tim").string()}, "would both be written to"},  // one GIF spelt two ways
        {{"sample.bmp", "here/sample.tim"}, "would both be written to"},  // through a linked folder
        {{"-t", "bmp", "pic.dib", "pic.gif"}, "quolb-gif: pic.gif: the GIF would replace the input pic.gif"},
        {{"--output-dir", "gifs", "a/x.bmp", "b/x.bmp"}, "quolb-gif: a/x.bmp and b/x.bmp would both be written to gifs/x.gif"},
        // Standard input has no name to derive one from, and can be read once.
        {{"-"}, "", "cat cat.bmp |"},
        {{"-", "-o", "x.gif", "-t", "bmp", "-"}, "", "cat cat.bmp |"},
        {{"-", "-o", "x.gif"}, "standard input: its first bytes do not tell the type; give it with -t", "echo text |"},
    };
    for (const auto& c : cases) {
        run(c.args, c.prefix);
        EXPECT_TRUE(failedWith(2, c.message)) << c.args.front();
        EXPECT_EQ(err.rfind("quolb-gif: ", 0), 0u) << err;
    }
    for (const char* name : {"cat.gif", "x.gif", "a.gif", "sample.gif", "gifs"}) EXPECT_FALSE(fs::exists(dir / name)) << name;
    EXPECT_EQ(readText(dir / "pic.gif"), std::string(100, 'B'));
}

// One run: failures are reported while the rest convert, each beside its
// input (a dot in a folder is no extension, a path may pass 255 bytes, a
// name may take all 255 the system allows), and the chosen colour reaches
// the GIF's control extension (entry 5). A colour no pixel has is refused
// for that input alone: marking it would make entry 0 transparent instead.
TEST_F(Cli, ConvertsEachInputBesideItAndReportsFailures) {
    const std::string missing = (dir / "missing.bmp").string();
    const std::string longFolder = std::string(100, 'd') + "/" + std::string(100, 'd') + "/" + std::string(100, 'd');
    const std::string longName = std::string(251, 'n');
    run({"-t", "bmp", "--transparent", "#05FA0A", write("photos.old/cat"), missing, write(longFolder + "/x"),
         write(longName + ".bmp"), write("without.bmp", smallBitmap({1, 2, 3, 0, 4, 6, 6, 0}))});
    EXPECT_TRUE(failedWith(1, "without.bmp: no pixel has the colour 5,250,10 given with --transparent"));
    EXPECT_FALSE(fs::exists(dir / "without.gif"));
    EXPECT_TRUE(fs::exists(dir / (longName + ".gif"))) << err;
    EXPECT_TRUE(failedWith(1, "quolb-gif: " + missing + ": cannot read the file: no such file"));
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
                                                                  .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
                                                                  .pixels = {30, 20, 10, 0, 50, 100, 200, 255}}.bytes());
    const auto converted = [&](std::vector<std::string> options) {
        options.push_back(input);
        run(options);
        EXPECT_EQ(status, 0) << err;
        return readText(dir / "clear.gif");
    };
    const std::string clear = converted({});
    EXPECT_EQ(clear.substr(13, 6) + clear.substr(781, 8), std::string("\xC8\x64\x32\x0A\x14\x1E\x21\xF9\x04\x01\x00\x00\x01\x00", 14))
        << "entry 1 transparent";
    // A colour no pixel has is refused, so name the opaque pixel's.
    const std::string keyed = converted({"--transparent", "200,100,50"});
    EXPECT_EQ(keyed.substr(13, 6) + keyed.substr(781, 8), std::string("\x0A\x14\x1E\xC8\x64\x32\x21\xF9\x04\x01\x00\x00\x01\x00", 14))
        << "the colour instead";
    EXPECT_EQ(converted({"--palette", "fixed", "--no-dither"}).substr(13, 6), std::string("\x00\x00\x00\x20\x00\x00", 6));
}

// --info prints one JSON object per input; a TIM picture without a colour
// table says its grey ramp is a stand-in, and --zero-transparent converts it.
TEST_F(Cli, InfoPrintsOneJsonObjectPerInput) {
    const std::string input = write("quote\"d.bmp");
    write("grey.tim", test::timFileOfKind(0x00, 1, 1, {0x21, 0x43}));
    run({"--info", input, input, "grey.tim"});
    EXPECT_EQ(status, 0) << err;
    const std::string line = "{\"path\": \"" + (dir / "quote\\\"d.bmp").string() +
                             "\", \"fileType\": \"bmp\", \"width\": 3, \"height\": 2, \"bitCount\": 8, "
                             "\"colorCount\": 256, \"imageSize\": 8}\n";
    EXPECT_EQ(out.substr(0, 2 * line.size()), line + line);
    EXPECT_NE(out.find("\"note\": \"the file has no colour table: a grey ramp stands in\""), std::string::npos) << out;
    run({"-q", "--zero-transparent", "grey.tim"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(fs::exists(dir / "grey.gif"));
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
    EXPECT_TRUE(failedWith(1, "quolb-gif: " + input + ": item 2: "));
    EXPECT_TRUE(fs::exists(dir / "out-001.gif") && fs::exists(dir / "out-003.gif"));
    EXPECT_FALSE(fs::exists(dir / "out-002.gif"));
    run({"--all", "--lzw", "-o", (dir / "small.gif").string(), input});
    EXPECT_LT(fs::file_size(dir / "small-003.gif"), fs::file_size(dir / "out-003.gif"));

    // Items are saved while the next ones load; their messages keep the
    // items' order, a failed save's included, and every item still counts.
    const Bytes four = test::concat({good, good, test::timFormContainer(tim, 4), good});
    fs::create_directories(dir / "four-002.gif");  // a folder where the second GIF goes
    run({"--all", "-o", "four.gif", write("four.xpb", four)});
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(tempLeft());
    const std::size_t saveFailed = err.find("four-002.gif: item 2: "), loadFailed = err.find("four.xpb: item 3: ");
    EXPECT_TRUE(saveFailed < loadFailed && loadFailed != std::string::npos) << err;
    run({"--item", "1", "-o", "one.gif", "four.xpb"});  // made and saved the single picture's way
    EXPECT_EQ(readText(dir / "four-004.gif"), readText(dir / "one.gif"));
    EXPECT_TRUE(fs::exists(dir / "four-001.gif") && fs::is_directory(dir / "four-002.gif"));
}

// The GIF goes to the file the name leads to, by every name it has: through
// links (a dangling one gets its target), through an open descriptor
// (never replacing the name itself), into every hard link, with the old
// mode; a file nobody may write is refused and stays as it was.
TEST_F(Cli, WritesTheFileTheNameLeadsTo) {
    write("cat.bmp");
    const Bytes old(100, 'B');
    fs::create_symlink("/proc/self/fd/1", dir / "stdout-link");
    write("real.gif", old);
    fs::create_symlink("real.gif", dir / "link.gif");
    fs::create_symlink("made.gif", dir / "dangling.gif");
    write("one.gif", old);
    fs::create_hard_link(dir / "one.gif", dir / "two.gif");
    write("shared.gif", old);
    fs::permissions(dir / "shared.gif", fs::perms(0604));
    write("locked.gif", old);
    fs::permissions(dir / "locked.gif", fs::perms(0444));  // refused even for the administrator
    fs::create_symlink("no/such/folder.gif", dir / "nowhere.gif");
    fs::create_directory(dir / "folder.gif");
    // The receiver "out" is the converter's standard output; a refusal has a reason instead.
    const struct { std::string output, receiver, reason; } cases[] = {
        {"stdout-link", "out"}, {"link.gif", "real.gif"}, {"dangling.gif", "made.gif"}, {"one.gif", "two.gif"},
        {"shared.gif", "shared.gif"},
        {"locked.gif", "", "cannot replace the file: permission denied"},
        {"nowhere.gif", "", "cannot create the file: no such file"},
        {"folder.gif", "", "cannot write to the file: is a directory"},
    };
    for (const auto& c : cases) {
        run({"-q", "-o", c.output, "cat.bmp"});
        if (!c.reason.empty()) {
            EXPECT_TRUE(failedWith(1, c.output + ": " + c.reason));
            continue;
        }
        EXPECT_EQ(status, 0) << c.output << ": " << err;
        EXPECT_TRUE(isGif(readText(dir / c.receiver))) << c.output;
    }
    // A regular file reached through a descriptor is written where it is,
    // never replaced by a new one that whoever holds it would not see.
    const auto inode = [](const fs::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const auto before = inode(dir / "out");
    run({"-q", "-o", "stdout-link", "cat.bmp"});
    EXPECT_TRUE(status == 0 && isGif(out)) << err;
    EXPECT_EQ(inode(dir / "out"), before);
    // With standard output closed, the input must not take its number.
    const int closed = std::system(("cd '" + dir.string() + "' && " QUOLB_GIF_EXE " -q -o stdout-link cat.bmp >&-").c_str());
    EXPECT_TRUE(WIFEXITED(closed) && WEXITSTATUS(closed) == 0);
    EXPECT_EQ(readText(dir / "cat.bmp"), asText(smallBitmap()));
    for (const char* link : {"stdout-link", "link.gif", "dangling.gif"}) EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
    EXPECT_TRUE(fs::equivalent(dir / "one.gif", dir / "two.gif"));
    EXPECT_EQ(fs::status(dir / "shared.gif").permissions(), fs::perms(0604));
    EXPECT_EQ(readText(dir / "locked.gif"), std::string(100, 'B'));
    EXPECT_FALSE(tempLeft());
}

// Owner and group stay: the administrator replacing another user's file
// hands it back, and a user replacing a file they may write but do not own
// writes it in place. A user may not replace what only its owner may write.
TEST_F(Cli, KeepsOwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create files of two users";
    fs::permissions(dir, fs::perms::all);
    // A copy the other user can surely reach, wherever the build lies.
    fs::copy_file(QUOLB_GIF_EXE, dir / "quolb-gif");
    program = (dir / "quolb-gif").string();
    write("cat.bmp");
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    // Each file's owner is also its group; the user "" is the administrator.
    const struct { const char* name; uid_t owner; fs::perms mode; std::string user; int status; } cases[] = {
        {"theirs.gif", 65534, fs::perms(0640), "", 0},
        {"roots.gif", 0, fs::perms(0666), nobody, 0},
        {"shut/open.gif", 0, fs::perms(0666), nobody, 0},  // a file they may write in a folder they may not
        {"private.gif", 0, fs::perms(0644), nobody, 1},
    };
    for (const auto& c : cases) {
        write(c.name, Bytes(100, 'B'));
        ASSERT_EQ(::chown((dir / c.name).c_str(), c.owner, c.owner), 0);
        fs::permissions(dir / c.name, c.mode);
        run({"-q", "-o", c.name, "cat.bmp"}, c.user);
        EXPECT_EQ(status, c.status) << c.name << ": " << err;
        struct stat info {};
        ::stat((dir / c.name).c_str(), &info);
        EXPECT_EQ(std::tuple(info.st_uid, info.st_gid, fs::status(dir / c.name).permissions()),
                  std::tuple(c.owner, c.owner, c.mode)) << c.name;
        const std::string now = readText(dir / c.name);
        EXPECT_TRUE(c.status == 0 ? isGif(now) : now == std::string(100, 'B')) << c.name;
    }
    EXPECT_TRUE(failedWith(1, "private.gif: cannot replace the file: permission denied"));
}

// "-" is standard input or output; pipes and FIFOs read like files.
TEST_F(Cli, ReadsAndWritesStandardStreamsAndPipes) {
    write("cat.bmp");
    write("face.lzb", test::timFormContainer(test::timFile(test::patternTim(8, 2, 2)), 0));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const struct { std::string prefix; std::vector<std::string> args; std::string gif; } cases[] = {  // gif: where it lands
        {"cat cat.bmp |", {"-", "-o", "piped.gif"}, "piped.gif"},  // "BM" tells the type
        {"cat face.lzb |", {"-", "-o", "face.gif"}, "face.gif"},  // so does a container's header
        {"cat cat.bmp |", {"-t", "bmp", "-", "-o", "-"}, "out"},
        {"(cat cat.bmp > fifo &) &&", {"-t", "bmp", "fifo", "-o", "fifo.gif"}, "fifo.gif"},
        {"", {"-o", "-", "cat.bmp"}, "out"},
    };
    for (const auto& c : cases) {
        run(c.args, c.prefix);
        EXPECT_EQ(status, 0) << c.prefix << ": " << err;
        EXPECT_TRUE(isGif(readText(dir / c.gif))) << c.gif;
    }
}

// --output-dir is created when missing; --all numbers items with as many
// digits as the last needs, and a missing folder fails once, up front.
TEST_F(Cli, OutputFoldersAndItemNumbers) {
    write("a.bmp");
    write("sub/b.bmp");
    run({"-q", "--output-dir", "new/gifs", "a.bmp", "sub/b.bmp"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(fs::exists(dir / "new/gifs/a.gif") && fs::exists(dir / "new/gifs/b.gif"));

    const Bytes item = test::timFormContainer(test::timFile(test::patternTim(8, 1, 1)), 0);
    Bytes archive;
    for (int i = 0; i < 1000; ++i) archive.insert(archive.end(), item.begin(), item.end());
    write("pack.xpb", archive);
    run({"--all", "-o", "missing/pack.gif", "pack.xpb"});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "quolb-gif: missing/pack.gif: cannot create the file: no such file or directory\n");
    run({"--all", "pack.xpb"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(fs::exists(dir / "pack-0001.gif") && fs::exists(dir / "pack-1000.gif"));
}

// Failed writes to standard output count; names reach messages and JSON
// safely.
TEST_F(Cli, KeepsItsOutputsClean) {
    write("cat.bmp");
    for (const char* args : {"--help", "--info cat.bmp"}) {
        const int result = std::system(("cd '" + dir.string() + "' && " QUOLB_GIF_EXE " " + args + " >/dev/full 2>/dev/null").c_str());
        EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == 1) << args;
    }
    write("caf\xe9.bmp");
    run({"--info", "-t", "BMP", "caf\xe9.bmp"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out.rfind("{\"path\": \"caf\\ufffd.bmp\"", 0), 0u) << out;
    run({"-q", "line\x1b[2Jbreak.bmp"});
    EXPECT_TRUE(failedWith(1, "quolb-gif: line\\x1b[2Jbreak.bmp: cannot read"));
}

// An interrupted conversion removes its temporary file and ends by the
// signal. A 1-bit picture of 13000 x 13000 pixels takes long enough to
// write that the signal arrives while its temporary file is there.
TEST_F(Cli, InterruptionLeavesNoTemporaryFile) {
    write("big.bmp", test::BmpBuilder{.width = 13000, .height = 13000, .bitCount = 1, .table = Bytes(8, 0xFF),
                                      .pixels = Bytes(1628 * 13000, 0x5A)}.bytes());
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(dir.c_str()) == 0) ::execl(QUOLB_GIF_EXE, QUOLB_GIF_EXE, "-q", "big.bmp", nullptr);
            ::_exit(127);
        }
        int result = 0;
        while (!tempLeft() && ::waitpid(child, &result, WNOHANG) == 0) {}
        ::kill(child, signal);
        ::waitpid(child, &result, 0);
        EXPECT_TRUE(WIFSIGNALED(result) && WTERMSIG(result) == signal) << "finished before the signal: " << result;
        EXPECT_FALSE(tempLeft());
        EXPECT_FALSE(fs::exists(dir / "big.gif"));
    }
}

#endif  // the runs above that need POSIX names or a POSIX shell

}  // namespace
}  // namespace quolb
