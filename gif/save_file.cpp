#include "gif/save_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <share.h>
// The C runtime's rename refuses an existing target on Windows, so the
// replacing rename comes from the system; declared here to keep the
// platform's large header out of the core.
extern "C" __declspec(dllimport) int __stdcall MoveFileExW(const wchar_t* existing, const wchar_t* replacement,
                                                            unsigned long flags);
#else
#include <unistd.h>
#endif

namespace quolb {
namespace {

std::atomic<unsigned> tempCounter{0};

// Opens `path` only if no file of that name exists yet.
FilePtr openNewFile(const std::string& path, [[maybe_unused]] const std::string& target) {
#ifdef _WIN32
    int fd = -1;
    if (_wsopen_s(&fd, widePath(path.c_str()).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYNO,
                 _S_IREAD | _S_IWRITE) != 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
#else
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) ::close(fd);
#endif
    return FilePtr(file);
}

unsigned processId() {
#ifdef _WIN32
    return static_cast<unsigned>(_getpid());
#else
    return static_cast<unsigned>(::getpid());
#endif
}

}  // namespace

bool isSpecialFile(const std::string& target) {
#ifdef _WIN32
    struct _stat64 status {};
    return _wstat64(widePath(target.c_str()).c_str(), &status) == 0 && (status.st_mode & _S_IFMT) != _S_IFREG;
#else
    struct stat status {};
    return ::stat(target.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
#endif
}

FilePtr createFileBeside(const std::string& target, std::string& tempPath) {
    const auto clock = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%x-%x-%x.tmp", processId(), clock, tempCounter++);
        tempPath = target + suffix;
        FilePtr file = openNewFile(tempPath, target);
        if (file) return file;
        if (errno != EEXIST) break;
    }
    tempPath.clear();
    return nullptr;
}

bool replaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    constexpr unsigned long replaceExisting = 0x1;  // MOVEFILE_REPLACE_EXISTING
    constexpr unsigned long writeThrough = 0x8;     // MOVEFILE_WRITE_THROUGH
    return MoveFileExW(widePath(from.c_str()).c_str(), widePath(to.c_str()).c_str(),
                       replaceExisting | writeThrough) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace quolb
