// The harness every fuzz target shares: the input goes to a file of its own
// and is loaded like any file. A failure must say why; a success must leave a
// consistent DIB, which is then written as a GIF so the writer sees whatever
// the loaders let through.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <unistd.h>

#include "gif/writer.h"
#include "tests/support/load_file.h"

namespace quolb::fuzz {

using test::Loaded;

// The process's file for its inputs (in memory where the system has a
// folder for it). It and the GIFs written beside it are removed when the
// process ends: every fuzzing and replaying process would otherwise leave
// its files in memory.
inline const std::string& inputPath() {
    static const struct Scratch {
        std::string path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + ("/quolb-fuzz-" + std::to_string(getpid()));
        ~Scratch() {
            for (const char* written : {"", ".gif", ".banded.gif"}) std::remove((path + written).c_str());
        }
    } scratch;
    return scratch.path;
}

// Loads the input from the process's file as `type`, `opens` times: an
// archive steps on each time.
inline Loaded loadInput(const std::uint8_t* data, std::size_t size, FileType type, int opens = 1) {
    Loaded out;
    const Picture& picture = out.picture;
    // Small enough that the fuzzer's time goes into parsing, not into
    // filling gigabyte pictures that a few bytes of RLE data may claim.
    out.picture.maxPixels = 4'000'000;
    const std::string& path = inputPath();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    while (opens-- > 0) {
        const int result = test::loadFile(out, path, type);
        if (result == 0 && (out.why.empty() || !picture.dib.empty() || !picture.palette.empty())) std::abort();
        if (picture.archiveOffset < 0 || static_cast<std::size_t>(picture.archiveOffset) > size) std::abort();
        const auto dibSize = dibHeaderSize + 4 * std::size_t(picture.colorCount) + std::size_t(picture.imageSize);
        if (result == 1 && (picture.dib.size() != dibSize || !writeGif(picture, (picture.path + ".gif").c_str(), 0, {}, nullptr)))
            std::abort();
    }
    return out;
}

}  // namespace quolb::fuzz
