// What every fuzz target shares: the input goes to a file of its own, the
// loader reads it like any file, and a picture that loads is written as a
// GIF, so the writer sees whatever the loaders let through.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "picture.h"
#include "writer.h"

namespace quolb::fuzz {

// In memory where the system has a folder for it; one name per process.
inline std::string scratchPath(const char* suffix) {
    return (access("/dev/shm", W_OK) == 0 ? "/dev/shm/quolb-fuzz-" : "/tmp/quolb-fuzz-") +
           std::to_string(::getpid()) + suffix;
}

inline std::string writeInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchPath(".in");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size != 0 && std::fwrite(data, 1, size, file) != size)) std::abort();
    std::fclose(file);
    return path;
}

// Every failure must say why; every success must leave a consistent DIB
// that the GIF writer takes.
inline void checkOutcome(const Picture& picture, int result, const std::string& why) {
    if (result == 0 && (why.empty() || !picture.dib.empty() || !picture.palette.empty())) std::abort();
    if (result == 0) return;
    if (picture.dib.size() != dibHeaderSize + 4 * static_cast<std::size_t>(picture.colorCount) +
                                  static_cast<std::size_t>(picture.imageSize))
        std::abort();
    std::string gifWhy;
    writeGif(picture, scratchPath(".gif").c_str(), 0, {}, &gifWhy);
}

inline int loadAs(Picture& picture, const std::string& path, FileType type, std::string& why) {
    releasePicture(picture);
    picture.path = path;
    picture.fileType = type;
    why.clear();
    const int result = loadPicture(picture, &why);
    checkOutcome(picture, result, why);
    return result;
}

}  // namespace quolb::fuzz
