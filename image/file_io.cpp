#include "image/file_io.h"

namespace quolb {

FilePtr openFile(const char* path, const char* mode) {
    return FilePtr(std::fopen(path, mode));
}

bool seekTo(std::FILE* file, std::int64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t measureFile(std::FILE* file) {
#ifdef _WIN32
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    const std::int64_t length = _ftelli64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    const std::int64_t length = ftello(file);
#endif
    if (length < 0 || !seekTo(file, 0)) return -1;
    return length;
}

}  // namespace quolb
