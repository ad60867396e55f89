// The pictures people really have: the TIM files of ../shared/corpora/realtim
// and the bitmap suite of ../shared/corpora/bmpsuite, each checked against an
// independent reading (a decoder written here from the format, giflib for
// our GIFs, Pillow for the suite's reference renderings).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "gif/writer.h"
#include "image/picture.h"
#include "tests/support/picture_checks.h"

namespace quolb {
namespace {

namespace fs = std::filesystem;

const fs::path corpora = fs::path(QUOLB_SOURCE_DIR) / ".." / "shared" / "corpora";

std::vector<fs::path> filesIn(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        if (ext == extension) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

#ifdef QUOLB_HAVE_GIFLIB
// Every real TIM file converts; its GIF shows every pixel in the colour the
// format gives it (for direct colour: lossless while there are at most 256),
// and with zeroTransparent exactly the pixels stored as 0x0000 are
// transparent.
TEST(RealTim, EveryFileConvertsToItsOwnColoursAndZeroMarksTransparency) {
    const fs::path folder = corpora / "realtim";
    if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is absent";
    const auto files = filesIn(folder, ".tim");
    EXPECT_GE(files.size(), 44u);
    int direct = 0;
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.filename().string());
        direct += test::decodeTimIndependently(test::readBytes(path)).mode >= 2;
        for (const bool zeroTransparent : {false, true}) test::expectTimGifMatches(path.string(), zeroTransparent);
    }
    EXPECT_GT(direct, 0);
}
#endif

// Under every build: the suite's files load (or fail with a reason) and
// whatever loads saves; nothing crashes or hangs. Natively, the GIFs of the
// good and questionable sets come out as the suite's reference renderings,
// compared by Pillow: exactly where the picture has at most 256 colours,
// closely otherwise, and a 32-bit picture's clear pixels transparent.
TEST(BmpSuite, EveryFileLoadsOrGivesAReasonAndMatchesTheReferenceRenderings) {
    const fs::path folder = corpora / "bmpsuite";
    if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is absent";
    const test::TempFile list(".txt");
    std::ofstream lines(list.path());
    std::vector<std::unique_ptr<test::TempFile>> gifs;
    for (const std::string kind : {"g", "q", "b"}) {
        for (const fs::path& path : filesIn(folder / kind, ".bmp")) {
            SCOPED_TRACE(path.string());
            Picture picture = test::pictureAt(path.string(), FileType::bitmap);
            std::string why;
            const int loaded = loadPicture(picture, &why);
            EXPECT_TRUE(loaded || (kind != "g" && !why.empty())) << why;
            if (!loaded) continue;
            gifs.push_back(std::make_unique<test::TempFile>(".gif"));
            GifOptions options;
            options.alphaTransparency = true;
            EXPECT_EQ(writeGif(picture, gifs.back()->path().c_str(), 0, {}, &why, options), 1) << why;
#ifdef QUOLB_HAVE_GIFLIB
            test::DecodedGif decoded;
            EXPECT_TRUE(test::decodeGifFile(gifs.back()->path(), decoded, &why)) << why;
#endif
            // That file's reference shows its embedded colour profile applied, which a GIF cannot carry.
            if (kind != "b" && path.filename() != "rgb24prof2.bmp")
                lines << kind << '/' << path.filename().string() << '\t' << gifs.back()->path() << '\t'
                      << pictureHeader(picture).biBitCount << '\n';
        }
    }
    lines.close();
#ifndef _WIN32
    // The system's Python carries Debian's Pillow even where another comes first on PATH.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"})
        if (python.empty() && std::system((std::string(candidate) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0)
            python = candidate;
    if (python.empty()) GTEST_SKIP() << "Pillow is not available";
    const test::TempFile report(".txt");
    const std::string command = python + " " QUOLB_SOURCE_DIR "/tests/support/compare_bmpsuite.py '" +
                                (folder / "html").string() + "' '" + list.path() + "' >'" + report.path() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(report.path());
    int same = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("same ", 0) == 0) ++same;
        else ADD_FAILURE() << line;
    }
    EXPECT_GE(same, 64);
#endif
}

}  // namespace
}  // namespace quolb
