// Loads a file through loadPicture, as the tool opens it. Shared by the tests
// and the fuzz targets; no test framework here.
#pragma once

#include <string>

#include "image/picture.h"

namespace quolb::test {

struct Loaded {
    Picture picture;  // kept from one load to the next, as the tool keeps it
    std::string why;  // "" when the last load succeeded
};

// A record that will load `path` as a file of `type`.
inline Picture pictureAt(const std::string& path, FileType type) {
    Picture picture;
    picture.path = path;
    picture.fileType = type;
    return picture;
}

// Loads `path` as a file of `type` into loaded.picture; returns loadPicture's result.
inline int loadFile(Loaded& loaded, const std::string& path, FileType type) {
    releasePicture(loaded.picture);
    loaded.picture.path = path;
    loaded.picture.fileType = type;
    loaded.why.clear();
    return loadPicture(loaded.picture, &loaded.why);
}

}  // namespace quolb::test
