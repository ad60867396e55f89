// One input's work for the converter: load it (an archive item by item) and
// write its GIF, print its facts as JSON, or list an archive's items.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/archive.h"
#include "image/file_io.h"
#include "image/picture.h"
#include "gif/writer.h"

namespace quolb {

enum class Action { convert, info, list };

// An input ready to read from its start. Standard input, pipes and FIFOs are
// first copied to a temporary file that goes away when closed, since every
// reader needs to seek.
struct InputFile {
    FilePtr file;
    std::int64_t length = -1;
};

// Opens `input` ("-": standard input). Returns false with the system's
// reason ("cannot read the file: no such file or directory") in `why`.
bool openInput(const std::string& input, InputFile& opened, std::string& why);

// The type the first bytes show, for standard input given without -t:
// bitmaps, TIM pictures and both container header forms carry a mark;
// archives do not (FileType::none).
FileType fileTypeFromContent(std::FILE* file);

// Every item an archive holds, in file order; the file is left at its start.
std::vector<ArchiveItem> listArchive(InputFile& archive);

// Folders fileKey has resolved, by their absolute spelling: a run's many
// names in one folder (an archive's items) resolve it once.
using ResolvedFolders = std::map<std::filesystem::path, std::filesystem::path>;

// What names one file however it is spelt: its identity (device and inode,
// or volume and file index) when it exists, so hard and symbolic links meet;
// otherwise its resolved path, folders' links followed (kept in `folders`
// when given).
std::string fileKey(const std::string& path, ResolvedFolders* folders = nullptr);
// Whether two names reach one file.
bool sameFile(const std::string& a, const std::string& b);

// A path of the converter (UTF-8 on Windows, see usePathsInUtf8) as the
// standard library's path, and back.
std::filesystem::path systemPath(const std::string& path);
std::string fromSystemPath(const std::filesystem::path& path);

// The standard streams as "-" names them.
inline bool isStandardStream(const std::string& name) { return name == "-"; }

struct Job {
    std::string input;
    InputFile* opened = nullptr;  // already open (standard input), or null
    FileType type = FileType::none;
    std::string output;  // the GIF ("-": standard output); for --all the stem its items are named after
    int itemDigits = 3;  // --all numbers items with this many digits at least
    // An archive's items as the run listed them to name its GIFs; listed
    // when the job runs otherwise.
    std::optional<std::vector<ArchiveItem>> items;
    Action action = Action::convert;
    std::optional<TransparentColour> transparent;
    GifOptions gif;      // alphaTransparency is set from `transparent`
    int item = 0;        // 1-based archive item; 0 = the first
    bool allItems = false;
    std::int64_t maxPixels = defaultMaxPixels;  // 0: no limit
    bool progress = false;
    std::string progressPrefix;  // "[2/5] " when several inputs convert
};

// Prints every failure to stderr as "quolb-gif: PATH: reason"; returns true
// when everything asked of this input succeeded.
bool runJob(const Job& job);

// A name as messages show it: control characters become \xNN, so a name
// cannot forge lines or move the terminal's cursor.
std::string printableName(const std::string& name);

// A JSON string literal for a path in the system's narrow encoding; bytes
// that are not UTF-8 become \ufffd, so the JSON stays valid.
std::string jsonString(const std::string& text);

}  // namespace quolb
