#include "gif/save_file.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

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
extern "C" __declspec(dllimport) unsigned long __stdcall GetLastError();
extern "C" __declspec(dllimport) void* __stdcall CreateFileW(const wchar_t* name, unsigned long access,
                                                             unsigned long share, void* security,
                                                             unsigned long creation, unsigned long flags,
                                                             void* templateFile);
extern "C" __declspec(dllimport) int __stdcall CloseHandle(void* handle);
#else
#include <climits>
#include <cstdlib>
#include <unistd.h>
#endif

namespace quolb {
namespace {

std::atomic<unsigned> tempCounter{0};

// The temporary file of the save in progress, for removeSaveInProgress.
#ifdef _WIN32
wchar_t pendingTemp[4096];
#else
char pendingTemp[4096];
#endif
volatile std::sig_atomic_t havePending = 0;

void setPending(const std::string& path) {
    havePending = 0;
#ifdef _WIN32
    const std::wstring name = widePath(path);
#else
    const std::string& name = path;
#endif
    if (name.empty() || name.size() >= std::size(pendingTemp)) return;
    std::copy(name.begin(), name.end(), pendingTemp);
    pendingTemp[name.size()] = 0;
    havePending = 1;
}

void removeFile(const std::string& path) {
#ifdef _WIN32
    _wremove(widePath(path).c_str());
#else
    std::remove(path.c_str());
#endif
}

unsigned processId() {
#ifdef _WIN32
    return static_cast<unsigned>(_getpid());
#else
    return static_cast<unsigned>(::getpid());
#endif
}

// The folder part of a path, with its separator ("" for a bare name).
std::string folderOf(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("\\/:");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int failWith(std::string* why, const char* what, int error) {
    if (why) *why = std::string(what) + ": " + systemReason(error);
    return 0;
}

// A short name of its own, whatever the length of the target's: a name near
// the system's limit would leave no room for a suffix.
std::string tempNameIn(const std::string& folder) {
    char name[48];
    std::snprintf(name, sizeof name, ".quolb-%x-%x.tmp", processId(), tempCounter++);
    return folder + name;
}

#ifdef _WIN32

// Names Windows keeps for devices in every folder, with any extension.
bool isDeviceName(const std::string& path) {
    std::string name = path.substr(folderOf(path).size());
    name = name.substr(0, name.find('.'));
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (name == "NUL" || name == "CON" || name == "PRN" || name == "AUX" || name == "CONIN$" || name == "CONOUT$")
        return true;
    return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) && name[3] >= '1' &&
           name[3] <= '9';
}

std::string windowsReason(unsigned long error) {
    switch (error) {
    case 2: return "no such file or directory";
    case 3: return "no such folder";
    case 5: return "permission denied";
    case 32: return "the file is in use";
    case 112: return "no space left on the disk";
    case 206: return "file name too long";
    default: return "system error " + std::to_string(error);
    }
}

// Created shared for deletion, so an interrupted run can remove it while
// it is still open.
FilePtr openNew(const std::string& path, unsigned long& error) {
    constexpr unsigned long genericWrite = 0x40000000, shareAll = 0x7, createNew = 1, normal = 0x80;
    void* const handle = CreateFileW(widePath(path).c_str(), genericWrite, shareAll, nullptr, createNew, normal, nullptr);
    if (handle == reinterpret_cast<void*>(-1)) {
        error = GetLastError();
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        error = 8;  // not enough memory
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
    return FilePtr(file);
}

int openTarget(const std::string& target, SaveTarget& save, std::string* why) {
    struct _stat64 status {};
    const bool exists = _wstat64(widePath(target).c_str(), &status) == 0;
    save.path = target;
    save.existed = exists;
    if (isDeviceName(target) || (exists && (status.st_mode & _S_IFMT) != _S_IFREG)) {
        save.mode = SaveMode::inPlace;
        save.file = openFile(target.c_str(), "wb");
        if (!save.file) return failWith(why, "cannot write to the file", errno);
        return 1;
    }
    if (exists && (status.st_mode & _S_IWRITE) == 0) return failWith(why, "cannot replace the file", EACCES);
    unsigned long error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        save.tempPath = tempNameIn(folderOf(target));
        setPending(save.tempPath);
        save.file = openNew(save.tempPath, error);
        if (save.file) return 1;
        if (error != 80 && error != 183) break;  // the name is taken
    }
    havePending = 0;
    save.tempPath.clear();
    if (why) *why = std::string(exists ? "cannot replace the file: " : "cannot create the file: ") + windowsReason(error);
    return 0;
}

int putInPlace(SaveTarget& save, std::string* why) {
    constexpr unsigned long replaceExisting = 0x1;  // MOVEFILE_REPLACE_EXISTING
    constexpr unsigned long writeThrough = 0x8;     // MOVEFILE_WRITE_THROUGH
    if (MoveFileExW(widePath(save.tempPath).c_str(), widePath(save.path).c_str(), replaceExisting | writeThrough) != 0)
        return 1;
    const unsigned long error = GetLastError();
    removeFile(save.tempPath);
    if (why)
        *why = std::string(save.existed ? "cannot replace the file: " : "cannot create the file: ") +
               windowsReason(error);
    return 0;
}

#else

FilePtr openNew(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) ::close(fd);
    return FilePtr(file);
}

// Folders whose entries stand for devices or open descriptors: a name there
// is written through and nothing new is ever made there. Resolving a folder
// asks the system about every folder above it, and a batch saves into one
// folder again and again: the last answer holds while the same name still
// reaches the same folder.
bool isSystemFolder(const std::string& folder) {
    const char* const name = folder.empty() ? "." : folder.c_str();
    struct stat status {};
    if (::stat(name, &status) != 0) return false;
    thread_local struct {
        std::string folder;
        dev_t device = 0;
        ino_t inode = 0;
        bool system = false;
    } last;
    if (!last.folder.empty() && last.folder == name && last.device == status.st_dev && last.inode == status.st_ino)
        return last.system;
    char* real = ::realpath(name, nullptr);
    if (!real) return false;
    const std::string path = real;
    std::free(real);
    last = {name, status.st_dev, status.st_ino, path == "/dev" || path == "/proc" || path.starts_with("/proc/")};
    return last.system;
}

// Follows symbolic links from `path` to the name they end at, which may not
// exist (a dangling link). `system` is set when any step lies in a system
// folder. Returns false on a loop.
bool followLinks(std::string path, std::string& real, bool& system) {
    system = false;
    for (int hops = 0; hops < 40; ++hops) {
        if (isSystemFolder(folderOf(path))) system = true;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            real = path;
            return true;
        }
        std::vector<char> link(static_cast<std::size_t>(PATH_MAX) + 1);
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size() - 1);
        if (length < 0) return false;
        const std::string next(link.data(), static_cast<std::size_t>(length));
        path = next.starts_with('/') ? next : folderOf(path) + next;
    }
    errno = ELOOP;
    return false;
}

// The administrator may write anything, but a file without any write bit is
// its owner's plain wish that it stay as it is; the peers refuse it too.
bool mayWrite(const std::string& path, const struct stat& status) {
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = EACCES;
        return false;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

int openTarget(const std::string& target, SaveTarget& save, std::string* why) {
    struct stat status {};
    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (!exists && errno != ENOENT) return failWith(why, "cannot create the file", errno);
    std::string real;
    bool system = false;
    if (!followLinks(target, real, system)) return failWith(why, "cannot create the file", errno);
    save.existed = exists;
    if (exists && (!S_ISREG(status.st_mode) || system)) {
        // The kernel follows the name to the device or descriptor itself.
        save.mode = SaveMode::inPlace;
        save.path = target;
        const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(status.st_mode) ? O_TRUNC : 0));
        if (fd < 0) return failWith(why, "cannot write to the file", errno);
        save.file = FilePtr(::fdopen(fd, "wb"));
        if (!save.file) {
            const int error = errno;
            ::close(fd);
            return failWith(why, "cannot write to the file", error);
        }
        return 1;
    }
    if (system) return failWith(why, "cannot create the file", EACCES);
    save.path = real;
    if (exists && !mayWrite(real, status)) return failWith(why, "cannot replace the file", errno);

    const char* what = exists ? "cannot replace the file" : "cannot create the file";
    std::string folder = folderOf(real);
    bool elsewhere = false;
    for (int attempt = 0; attempt < 200 && !save.file; ++attempt) {
        save.tempPath = tempNameIn(folder);
        setPending(save.tempPath);
        save.file = openNew(save.tempPath);
        if (save.file || errno == EEXIST) continue;
        // A writable file in a folder the user may not add to: the new
        // content waits in the system's temporary folder, then is copied in.
        if (exists && !elsewhere && (errno == EACCES || errno == EPERM)) {
            const char* tmp = std::getenv("TMPDIR");
            folder = tmp && *tmp ? std::string(tmp) + "/" : std::string("/tmp/");
            elsewhere = true;
            save.mode = SaveMode::copyBack;
            continue;
        }
        const int error = errno;
        havePending = 0;
        save.tempPath.clear();
        return failWith(why, what, error);
    }
    if (!save.file) return failWith(why, what, EEXIST);
    if (!exists) return 1;

    // A rename would split hard links; a new file whose owner or group
    // cannot be the old one's would change hands. Both get the content
    // copied in instead, and the old file keeps its own mode.
    const int fd = fileno(save.file.get());
    struct stat created {};
    if (status.st_nlink > 1 ||
        (::fstat(fd, &created) == 0 && (created.st_uid != status.st_uid || created.st_gid != status.st_gid) &&
         ::fchown(fd, status.st_uid, status.st_gid) != 0))
        save.mode = SaveMode::copyBack;
    if (save.mode == SaveMode::replace) ::fchmod(fd, status.st_mode & 07777);  // after fchown, which may clear set-id bits
    return 1;
}

// Copies the complete new content over the old file, which keeps its inode,
// links, owner and group. Signals wait until the copy is done.
int copyBack(SaveTarget& save, std::string* why) {
    const int from = ::open(save.tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int to = from < 0 ? -1 : ::open(save.path.c_str(), O_WRONLY | O_CLOEXEC);
    struct stat newStatus {}, oldStatus {};
    if (to < 0 || ::fstat(from, &newStatus) != 0 || ::fstat(to, &oldStatus) != 0) {
        const int error = errno;
        if (from >= 0) ::close(from);
        if (to >= 0) ::close(to);
        std::remove(save.tempPath.c_str());
        return failWith(why, "cannot replace the file", error);
    }
    // Reserve the space first: a full disk then fails before any old byte changes.
    if (newStatus.st_size > oldStatus.st_size) {
        const int error = ::posix_fallocate(to, 0, newStatus.st_size);
        if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
            if (::ftruncate(to, oldStatus.st_size) != 0) {}
            ::close(from);
            ::close(to);
            std::remove(save.tempPath.c_str());
            return failWith(why, "cannot replace the file", error);
        }
    }
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, signal);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    std::vector<char> buffer(1 << 20);
    int error = 0;
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got < 0) error = errno;
            break;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::pwrite(to, buffer.data() + done, static_cast<std::size_t>(got - done), offset);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) error = put < 0 ? errno : EIO;
            else {
                done += put;
                offset += put;
            }
        }
        if (error != 0) break;
    }
    if (error == 0 && ::ftruncate(to, offset) != 0) error = errno;
    if (::close(to) != 0 && error == 0) error = errno;
    ::close(from);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (error != 0) {
        havePending = 0;  // the only complete copy: keep it
        if (why) *why = "cannot replace the file: " + systemReason(error) + "; the new GIF is in " + save.tempPath;
        return 0;
    }
    std::remove(save.tempPath.c_str());
    return 1;
}

int putInPlace(SaveTarget& save, std::string* why) {
    if (save.mode == SaveMode::copyBack) return copyBack(save, why);
    if (std::rename(save.tempPath.c_str(), save.path.c_str()) == 0) return 1;
    const int error = errno;
    std::remove(save.tempPath.c_str());
    return failWith(why, save.existed ? "cannot replace the file" : "cannot create the file", error);
}

#endif

}  // namespace

std::string systemReason(int error) {
    std::string text = std::strerror(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

int beginSave(const std::string& target, SaveTarget& save, std::string* why) {
    save = SaveTarget{};
    if (target.empty()) {
        if (why) *why = "no file name to save to";
        return 0;
    }
    if (openTarget(target, save, why)) return 1;
    save.file.reset();
    return 0;
}

int finishSave(SaveTarget& save, bool written, std::string* why) {
    const bool closed = std::fclose(save.file.release()) == 0;
    int result = 1;
    if (!written || !closed) {
        if (why) *why = "disk full or write error while writing the GIF";
        if (save.mode != SaveMode::inPlace) removeFile(save.tempPath);
        result = 0;
    } else if (save.mode != SaveMode::inPlace) {
        result = putInPlace(save, why);
    }
    havePending = 0;
    return result;
}

void removeSaveInProgress() {
    if (havePending) {
#ifdef _WIN32
        _wunlink(pendingTemp);
#else
        ::unlink(pendingTemp);
#endif
    }
}

}  // namespace quolb
