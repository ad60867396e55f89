#include "cli/convert.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "image/archive.h"
#include "image/bitmap.h"
#include "image/container.h"
#include "image/file_io.h"
#include "image/tim.h"
#include "gif/save_file.h"
#include "cli/naming.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <sys/stat.h>
#endif

namespace quolb {

namespace {

void report(const std::string& path, const std::string& reason) {
    // A picture refused for its size can still be converted on purpose.
    const char* hint = reason.find("more than the limit of") != std::string::npos ? " (see --max-pixels)" : "";
    std::fprintf(stderr, "quolb-gif: %s: %s%s\n", printableName(path).c_str(), reason.c_str(), hint);
}

#ifdef _WIN32
// The volume and file index name one file whatever its spelling: case,
// ".\\" and "..", short names and hard links all lead to the same pair.
struct FileIdentity {
    DWORD volume = 0, high = 0, low = 0;
};

bool fileIdentity(const std::string& path, FileIdentity& identity) {
    const HANDLE handle = CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return ok;
}
#endif

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
            ", \"imageSize\": " + std::to_string(picture.imageSize);
    if (!picture.note.empty()) line += ", \"note\": " + jsonString(picture.note);
    line += "}\n";
    std::fputs(line.c_str(), stdout);
}

// Whether the GIF may go to `output`; reports why not.
bool mayWrite(const Job& job, const Picture& picture, const std::string& output, const std::string& prefix,
              const StreamedPicture* streamed) {
    // A GIF that is not there yet cannot be the input, which is open: its
    // name needs no resolving (a cost an archive's every item would pay).
    std::error_code error;
    if (!isStandardStream(output) && !isStandardStream(job.input) &&
        std::filesystem::exists(systemPath(output), error) && sameFile(job.input, output)) {
        report(job.input, prefix + "the GIF would replace the input; name another with -o");
        return false;
    }
    // Marking a colour no pixel has would make table entry 0 transparent.
    if (job.transparent && !(streamed ? pictureHasColour(*streamed, *job.transparent)
                                      : pictureHasColour(picture, *job.transparent))) {
        const TransparentColour c = *job.transparent;
        report(job.input, prefix + "no pixel has the colour " + std::to_string(c.red) + "," + std::to_string(c.green) +
                              "," + std::to_string(c.blue) + " given with --transparent");
        return false;
    }
    return true;
}

void announce(const Job& job, const std::string& output, const ArchiveItem* item, int number) {
    if (!job.progress) return;
    const std::string which = item ? " item " + std::to_string(number) : std::string();
    std::fprintf(stderr, "%s%s%s -> %s\n", job.progressPrefix.c_str(), printableName(job.input).c_str(),
                 which.c_str(), printableName(output).c_str());
}

GifOptions gifOptions(const Job& job) {
    GifOptions options = job.gif;
    options.alphaTransparency = !job.transparent;
    return options;
}

// Writes or describes one loaded picture, or writes a streamed one (whose
// `picture` is then only its head).
bool finish(const Job& job, const Picture& picture, const std::string& output, const ArchiveItem* item,
            int number, const StreamedPicture* streamed = nullptr) {
    if (job.action == Action::info) {
        printInfo(job, picture, item, number);
        return true;
    }
    const std::string prefix = item ? itemPrefix(number) : std::string();
    if (!mayWrite(job, picture, output, prefix, streamed)) return false;
    announce(job, output, item, number);
    const bool toStandardOutput = isStandardStream(output);
    std::string why;
    const TransparentColour colour = job.transparent.value_or(TransparentColour{});
    const GifOptions options = gifOptions(job);
    const int transparentGif = job.transparent ? 1 : 0;
    int written = 0;
    if (streamed)
        written = toStandardOutput ? writeGifToStream(*streamed, stdout, transparentGif, colour, &why)
                                   : writeGif(*streamed, output.c_str(), transparentGif, colour, &why);
    else
        written = toStandardOutput ? writeGifToStream(picture, stdout, transparentGif, colour, &why, options)
                                   : writeGif(picture, output.c_str(), transparentGif, colour, &why, options);
    if (!written) {
        report(toStandardOutput ? "standard output" : output, prefix + why);
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
                std::to_string(pictureHeader(picture).biBitCount) + "-bit" +
                (picture.note.empty() ? std::string() : " (" + picture.note + ")");
    else
        line += "no picture: " + why;
    line += '\n';
    std::fputs(line.c_str(), stdout);
}

// The length of the well-formed UTF-8 character at `at`, 0 if there is none
// (stray continuation bytes, overlong forms, surrogates, past U+10FFFF).
std::size_t utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return 0;
    const auto second = static_cast<unsigned char>(text[at + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

// Where an --all run writes, checked once before anything is decoded.
bool outputFolderExists(const std::string& output) {
    const std::filesystem::path folder = systemPath(output).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error)) return true;
    report(output, "cannot create the file: " + systemReason(ENOENT));
    return false;
}

// Saves an archive's GIFs one at a time on a thread of its own while the
// next item is loaded and made: the run is the items' loading and making
// beside the system's work for the files, not after it. Every message is
// printed by the caller's thread in the items' order: a save's failure is
// reported when the next item has anything to say, or hands its GIF over.
struct BackgroundSaver {
    std::mutex mutex;
    std::condition_variable changed;
    bool busy = false;     // a save is in hand
    bool saved = true;     // the last save succeeded, or its failure was reported
    bool stopping = false;
    MadeGif gif;
    std::string output, prefix, why;
    std::thread thread;  // last: started once the rest is ready

    ~BackgroundSaver() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;  // the save in hand still finishes
        }
        changed.notify_all();
        if (thread.joinable()) thread.join();
    }
};

// Only pictures up to this many pixels are made in memory (their GIFs take
// a little more bytes); a larger one waits for the save in hand and is
// written as a single picture is.
constexpr std::uint64_t largestSavedBehind = std::uint64_t{2} << 20;

void saveHandedGifs(BackgroundSaver& saver) {
    std::unique_lock lock(saver.mutex);
    for (;;) {
        saver.changed.wait(lock, [&] { return saver.busy || saver.stopping; });
        if (!saver.busy) return;
        lock.unlock();
        std::string why;
        const bool saved = saveGif({saver.gif.buffer.get(), saver.gif.size}, saver.output.c_str(), &why) == 1;
        lock.lock();
        saver.saved = saved;
        saver.why = std::move(why);
        saver.busy = false;
        saver.changed.notify_all();
    }
}

// Waits for the save in hand and reports its failure. False when it failed.
bool settle(BackgroundSaver& saver) {
    std::unique_lock lock(saver.mutex);
    saver.changed.wait(lock, [&] { return !saver.busy; });
    if (saver.saved) return true;
    saver.saved = true;
    report(saver.output, saver.prefix + saver.why);
    return false;
}

// Hands `gif` to the saver, which the caller has settled; where no thread
// can be had it is saved at once.
bool saveBehind(BackgroundSaver& saver, MadeGif gif, const std::string& output, const std::string& prefix) {
    if (!saver.thread.joinable()) {
        try {
            saver.thread = std::thread(saveHandedGifs, std::ref(saver));
        } catch (const std::system_error&) {
            std::string why;
            if (saveGif({gif.buffer.get(), gif.size}, output.c_str(), &why)) return true;
            report(output, prefix + why);
            return false;
        }
    }
    {
        const std::lock_guard lock(saver.mutex);
        saver.gif = std::move(gif);
        saver.output = output;
        saver.prefix = prefix;
        saver.busy = true;
    }
    saver.changed.notify_all();
    return true;
}

// Converts one loaded item of --all: made in memory while the save before
// it runs, then handed to the saver.
bool convertItem(const Job& job, const Picture& picture, const std::string& output, const ArchiveItem& item,
                 int number, BackgroundSaver& saver) {
    const std::string prefix = itemPrefix(number);
    const auto pixels = static_cast<std::uint64_t>(picture.width) * static_cast<std::uint64_t>(picture.height);
    if (pixels > largestSavedBehind) {
        const bool settled = settle(saver);
        return finish(job, picture, output, &item, number) && settled;
    }
    MadeGif gif;
    std::string why;
    const int made = makeGif(picture, gif, job.transparent ? 1 : 0, job.transparent.value_or(TransparentColour{}),
                             &why, gifOptions(job));
    const bool ok = settle(saver);
    if (!mayWrite(job, picture, output, prefix, nullptr)) return false;
    announce(job, output, &item, number);
    if (!made) {
        report(output, prefix + why);
        return false;
    }
    return saveBehind(saver, std::move(gif), output, prefix) && ok;
}

bool runArchive(const Job& job, InputFile& in) {
    // Reading the archive through once more would only find the same items.
    std::vector<ArchiveItem> listed;
    if (!job.items) listed = listArchiveItems(in.file.get(), in.length);
    const std::vector<ArchiveItem>& items = job.items ? *job.items : listed;
    if (items.empty() && job.action != Action::list) {
        report(job.input, "the archive holds no item");
        return false;
    }
    if (job.allItems && job.action == Action::convert && !outputFolderExists(job.output)) return false;

    bool ok = true;
    BackgroundSaver saver;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const bool wanted = job.action == Action::list || job.allItems || number == (job.item ? job.item : 1);
        if (!wanted) continue;
        Picture picture;
        picture.path = job.input;
        picture.fileType = FileType::archive;
        picture.maxPixels = job.maxPixels;
        picture.markZeroPixels = job.gif.zeroTransparent;
        ContainerInfo info;
        std::string why;
        const bool loaded = loadArchiveEntry(picture, in.file.get(), items[i], &info, &why) == 1;
        if (job.action == Action::list) {
            printListLine(number, items[i], info, picture, loaded, why);
            continue;
        }
        if (!loaded) {
            settle(saver);  // the item before says first whether it was saved
            report(job.input, itemPrefix(number) + why);
            ok = false;
            continue;
        }
        const std::string output = job.allItems ? itemOutput(job.output, number, job.itemDigits) : job.output;
        if (job.allItems && job.action == Action::convert)
            ok = convertItem(job, picture, output, items[i], number, saver) && ok;
        else
            ok = finish(job, picture, output, &items[i], number) && ok;
    }
    ok = settle(saver) && ok;
    if (job.item > 0 && static_cast<std::size_t>(job.item) > items.size()) {
        report(job.input, "no item " + std::to_string(job.item) + ": the archive holds " +
                              std::to_string(items.size()));
        return false;
    }
    return ok;
}

int loadFromStream(Picture& picture, InputFile& in, std::string* why) {
    int result = 0;
    switch (picture.fileType) {
    case FileType::bitmap: result = loadBitmap(picture, in.file.get(), in.length, why); break;
    case FileType::tim: result = loadTimFile(picture, in.file.get(), in.length, why); break;
    case FileType::container: result = loadContainer(picture, in.file.get(), in.length, nullptr, why); break;
    default: result = fail(why, "unknown file type"); break;
    }
    if (!result) releasePicture(picture);
    return result;
}

// Copies a stream that cannot seek into a temporary file that is removed
// when closed (or, on POSIX, at once: nothing is left if the run is killed).
FilePtr spool(std::FILE* from, std::string& why) {
#ifdef _WIN32
    wchar_t folder[MAX_PATH + 1];
    static unsigned counter = 0;
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring name = std::wstring(folder, length) + L".quolb-in-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(counter++) + L".tmp";
    FilePtr file(length > 0 ? _wfopen(name.c_str(), L"w+bD") : nullptr);
#else
    FilePtr file(std::tmpfile());
#endif
    if (!file) {
        why = "cannot create a temporary copy: " + systemReason(errno);
        return nullptr;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), from);
        if (got > 0 && std::fwrite(buffer.data(), 1, got, file.get()) != got) {
            why = "cannot keep a temporary copy: " + systemReason(errno);
            return nullptr;
        }
        if (got < buffer.size()) break;
    }
    if (std::ferror(from)) {
        why = "cannot read the file: " + systemReason(errno);
        return nullptr;
    }
    return file;
}

}  // namespace

std::filesystem::path systemPath(const std::string& path) {
#ifdef _WIN32
    return widePath(path);
#else
    return path;
#endif
}

std::string fromSystemPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return narrowPath(path.wstring());
#else
    return path.string();
#endif
}

namespace {

// A name that is not there resolved as weakly_canonical resolves it: its
// folder's links followed, its own name after it. Resolving the folder asks
// the system about every folder above it, so a kept one is not asked again.
std::filesystem::path resolveMissing(const std::filesystem::path& whole, ResolvedFolders* folders,
                                     std::error_code& error) {
    const std::filesystem::path name = whole.filename();
    if (!folders || name.empty() || name == "." || name == "..") return std::filesystem::weakly_canonical(whole, error);
    const std::filesystem::path folder = whole.parent_path();
    auto found = folders->find(folder);
    if (found == folders->end()) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(folder, error);
        if (error) return {};
        found = folders->emplace(folder, std::move(resolved)).first;
    }
    return found->second / name;
}

}  // namespace

std::string fileKey(const std::string& path, ResolvedFolders* folders) {
#ifdef _WIN32
    FileIdentity id;
    char key[48];
    if (fileIdentity(path, id)) {
        std::snprintf(key, sizeof key, "#%lu:%lu:%lu", id.volume, id.high, id.low);
        return key;
    }
#else
    struct stat status {};
    char key[48];
    if (stat(path.c_str(), &status) == 0) {
        std::snprintf(key, sizeof key, "#%ju:%ju", std::uintmax_t{status.st_dev}, std::uintmax_t{status.st_ino});
        return key;
    }
#endif
    // Made absolute first: a relative name of which nothing is there yet
    // would stay relative, and never meet the same file spelt absolutely.
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(systemPath(path), error);
    std::string resolved = error ? path : fromSystemPath(resolveMissing(whole, folders, error));
    if (error) resolved = path;
#ifdef _WIN32
    for (char& c : resolved)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
    return "=" + resolved;
}

bool sameFile(const std::string& a, const std::string& b) { return a == b || fileKey(a) == fileKey(b); }

bool openInput(const std::string& input, InputFile& opened, std::string& why) {
    std::FILE* stream = nullptr;
    if (isStandardStream(input)) {
#ifdef _WIN32
        _setmode(_fileno(stdin), 0x8000);  // _O_BINARY
#endif
        stream = stdin;
    } else {
        opened.file = openFile(input.c_str(), "rb");
        if (!opened.file) {
            why = "cannot read the file: " + systemReason(errno);
            return false;
        }
        stream = opened.file.get();
    }
    opened.length = isStandardStream(input) ? -1 : measureFile(stream);
    if (opened.length >= 0) return true;
    FilePtr copy = spool(stream, why);
    if (!copy) return false;
    opened.file = std::move(copy);
    opened.length = measureFile(opened.file.get());
    if (opened.length < 0) {
        why = "cannot measure the file";
        return false;
    }
    return true;
}

FileType fileTypeFromContent(std::FILE* file) {
    unsigned char head[17] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    seekTo(file, 0);
    const auto startsWith = [&](const char* mark, std::size_t length) {
        return got >= length && std::equal(mark, mark + length, head);
    };
    if (startsWith("BM", 2)) return FileType::bitmap;
    if (startsWith("\x10\0\0\0", 4)) return FileType::tim;
    // A container's header form, ending in the TIM picture's first byte.
    if ((startsWith("TIM", 3) && got >= 9 && head[8] == 0x10) || (startsWith("LZSS-bu2", 8) && got == 17 && head[16] == 0x10))
        return FileType::container;
    return FileType::none;
}

std::vector<ArchiveItem> listArchive(InputFile& archive) {
    std::vector<ArchiveItem> items = listArchiveItems(archive.file.get(), archive.length);
    seekTo(archive.file.get(), 0);
    return items;
}

std::string printableName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

std::string jsonString(const std::string& text) {
    const std::string& utf8 = text;  // names are UTF-8 on Windows too
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += utf8[i++];
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
            ++i;
        } else if (byte < 0x80) {
            out += utf8[i++];
        } else {
            const std::size_t length = utf8SequenceLength(utf8, i);
            if (length == 0) {
                out += "\\ufffd";  // a byte that starts no valid character
                ++i;
            } else {
                out.append(utf8, i, length);
                i += length;
            }
        }
    }
    return out + "\"";
}

bool runJob(const Job& job) {
    if (job.type != FileType::archive && (job.action == Action::list || job.allItems || job.item > 0)) {
        report(job.input, "--list, --all and --item need an archive (this is read as " +
                              std::string(fileTypeOption(job.type)) + ")");
        return false;
    }
    InputFile own;
    std::string why;
    if (!job.opened && !openInput(job.input, own, why)) {
        report(job.input, why);
        return false;
    }
    InputFile& in = job.opened ? *job.opened : own;
    if (job.type == FileType::archive) return runArchive(job, in);
    Picture picture;
    picture.path = job.input;
    picture.fileType = job.type;
    picture.maxPixels = job.maxPixels;
    picture.markZeroPixels = job.gif.zeroTransparent;
    // A plain bitmap converts a band of rows at a time, never held whole;
    // the whole load is the way for every other (and says why a bad one fails).
    BitmapBands bands;
    if (job.type == FileType::bitmap && job.action == Action::convert && !job.gif.lzw && !job.gif.zeroTransparent &&
        openBitmapBands(picture, in.file.get(), in.length, bands, nullptr)) {
        StreamedPicture streamed;
        streamed.head = &bands.head;
        streamed.rows = [&bands](const auto& use, std::string* reason) { return readBitmapRows(bands, use, reason); };
        return finish(job, bands.head, job.output, nullptr, 0, &streamed);
    }
    if (!loadFromStream(picture, in, &why)) {
        report(job.input, why);
        return false;
    }
    return finish(job, picture, job.output, nullptr, 0);
}

}  // namespace quolb
