#include "cli/convert.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/archive.h"
#include "image/file_io.h"
#include "cli/naming.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace quolb {

namespace {

void report(const std::string& path, const std::string& reason) {
    // A picture refused for its size can still be converted on purpose.
    const char* hint = reason.find("more than the limit of") != std::string::npos ? " (see --max-pixels)" : "";
    std::fprintf(stderr, "quolb-gif: %s: %s%s\n", path.c_str(), reason.c_str(), hint);
}

// The system's words for why a file will not open ("no such file or
// directory"), lower-cased to read like our own reasons.
std::string openFailure(int error) {
    std::string text = std::strerror(error);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

#ifdef _WIN32
// The volume and file index name one file whatever its spelling: case,
// ".\\" and "..", short names and hard links all lead to the same pair.
struct FileIdentity {
    DWORD volume = 0, high = 0, low = 0;
};

bool fileIdentity(const std::string& path, FileIdentity& identity) {
    const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return ok;
}
#endif

// Writing the GIF over the file it was read from would lose the input. The
// file system decides whether two names are one file, not their spelling.
bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
#ifdef _WIN32
    FileIdentity ia, ib;
    return fileIdentity(a, ia) && fileIdentity(b, ib) && ia.volume == ib.volume && ia.high == ib.high &&
           ia.low == ib.low;
#else
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
#endif
}

std::string itemPrefix(int number) { return "item " + std::to_string(number) + ": "; }

void printInfo(const Job& job, const Picture& picture, const ArchiveItem* item, int number) {
    const DibHeader header = pictureHeader(picture);
    std::string line = "{\"path\": " + jsonString(job.input) + ", \"fileType\": \"" +
                       std::string(fileTypeOption(job.type)) + "\"";
    if (item)
        line += ", \"item\": " + std::to_string(number) + ", \"archiveOffset\": " + std::to_string(item->offset);
    line += ", \"width\": " + std::to_string(picture.width) + ", \"height\": " + std::to_string(picture.height) +
            ", \"bitCount\": " + std::to_string(header.biBitCount) +
            ", \"colorCount\": " + std::to_string(picture.colorCount) +
            ", \"imageSize\": " + std::to_string(picture.imageSize) + "}\n";
    std::fputs(line.c_str(), stdout);
}

// Writes or describes one loaded picture.
// With `bands`, the picture is only its head and its rows come from there.
bool finish(const Job& job, const Picture& picture, const std::string& output, const ArchiveItem* item,
            int number, BitmapBands* bands = nullptr) {
    if (job.action == Action::info) {
        printInfo(job, picture, item, number);
        return true;
    }
    const std::string prefix = item ? itemPrefix(number) : std::string();
    if (sameFile(job.input, output)) {
        report(job.input, prefix + "the GIF would replace the input; name another with -o");
        return false;
    }
    if (job.progress) {
        const std::string which = item ? " item " + std::to_string(number) : std::string();
        std::fprintf(stderr, "%s%s%s -> %s\n", job.progressPrefix.c_str(), job.input.c_str(), which.c_str(),
                     output.c_str());
    }
    std::string why;
    const TransparentColour colour = job.transparent.value_or(TransparentColour{});
    GifOptions options = job.gif;
    options.alphaTransparency = !job.transparent;
    const int transparentGif = job.transparent ? 1 : 0;
    if (!(bands ? writeGif(*bands, output.c_str(), transparentGif, colour, &why)
                : writeGif(picture, output.c_str(), transparentGif, colour, &why, options))) {
        report(output, prefix + why);
        return false;
    }
    return true;
}

const char* formName(ContainerForm form) {
    switch (form) {
    case ContainerForm::tim: return "TIM";
    case ContainerForm::lzssBu2: return "LZSS-bu2";
    case ContainerForm::unknown: break;
    }
    return "?";
}

void printListLine(int number, const ArchiveItem& item, const ContainerInfo& info, const Picture& picture,
                   bool loaded, const std::string& why) {
    std::string line = std::to_string(number) + '\t' + std::to_string(item.offset) + '\t' +
                       std::to_string(item.length) + '\t' + formName(info.form) + '\t' +
                       (info.mode < 0 ? std::string("-") : std::to_string(info.mode)) + '\t';
    if (loaded)
        line += std::to_string(picture.width) + 'x' + std::to_string(picture.height) + ' ' +
                std::to_string(pictureHeader(picture).biBitCount) + "-bit";
    else
        line += "no picture: " + why;
    line += '\n';
    std::fputs(line.c_str(), stdout);
}

bool runArchive(const Job& job) {
    const FilePtr file = openFile(job.input.c_str(), "rb");
    if (!file) {
        report(job.input, openFailure(errno));
        return false;
    }
    const std::int64_t length = measureFile(file.get());
    if (length < 0) {
        report(job.input, "cannot measure the file");
        return false;
    }
    const std::vector<ArchiveItem> items = listArchiveItems(file.get(), length);
    if (items.empty() && job.action != Action::list) {
        report(job.input, "the archive holds no item");
        return false;
    }

    bool ok = true;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const bool wanted = job.action == Action::list || job.allItems || number == (job.item ? job.item : 1);
        if (!wanted) continue;
        Picture picture;
        picture.path = job.input;
        picture.fileType = FileType::archive;
        picture.maxPixels = job.maxPixels;
        ContainerInfo info;
        std::string why;
        const bool loaded = loadArchiveEntry(picture, file.get(), items[i], &info, &why) == 1;
        if (job.action == Action::list) {
            printListLine(number, items[i], info, picture, loaded, why);
            continue;
        }
        if (!loaded) {
            report(job.input, itemPrefix(number) + why);
            ok = false;
            continue;
        }
        const std::string output = job.allItems ? itemOutput(job.output, number) : job.output;
        ok = finish(job, picture, output, &items[i], number) && ok;
    }
    if (job.item > 0 && static_cast<std::size_t>(job.item) > items.size()) {
        report(job.input, "no item " + std::to_string(job.item) + ": the archive holds " +
                              std::to_string(items.size()));
        return false;
    }
    return ok;
}

}  // namespace

std::string jsonString(const std::string& text) {
    std::string utf8 = text;
#ifdef _WIN32
    // Paths arrive in the ANSI code page; JSON is UTF-8.
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wideLength > 0) {
        std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), wideLength);
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
        utf8.assign(static_cast<std::size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, utf8.data(), length, nullptr, nullptr);
    }
#endif
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool runJob(const Job& job) {
    if (job.type == FileType::archive) return runArchive(job);
    if (job.action == Action::list || job.allItems || job.item > 0) {
        report(job.input, "--list, --all and --item need an archive (this is read as " +
                              std::string(fileTypeOption(job.type)) + ")");
        return false;
    }
    // Open it once ourselves so a missing or unreadable file gets the system's reason.
    if (!openFile(job.input.c_str(), "rb")) {
        report(job.input, openFailure(errno));
        return false;
    }
    Picture picture;
    picture.path = job.input;
    picture.fileType = job.type;
    picture.maxPixels = job.maxPixels;
    // A plain bitmap converts a band of rows at a time, never loaded whole.
    BitmapBands bands;
    if (job.type == FileType::bitmap && job.action == Action::convert && !job.gif.lzw &&
        openBitmapBands(picture, bands, nullptr))
        return finish(job, bands.head, job.output, nullptr, 0, &bands);
    std::string why;
    if (!loadPicture(picture, &why)) {
        report(job.input, why);
        return false;
    }
    return finish(job, picture, job.output, nullptr, 0);
}

}  // namespace quolb
