// quolb-gif: converts bitmaps, TIM pictures, compressed containers and
// archive items to GIF89a files from the command line.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gif/save_file.h"
#include "cli/arguments.h"
#include "cli/convert.h"
#include "cli/naming.h"
#include "image/paths.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#define QUOLB_ISATTY(fd) _isatty(fd)
#define QUOLB_FILENO(f) _fileno(f)
#else
#include <fcntl.h>
#include <unistd.h>
#define QUOLB_ISATTY(fd) isatty(fd)
#define QUOLB_FILENO(f) fileno(f)
#endif

#ifndef QUOLB_VERSION
#define QUOLB_VERSION "unknown"
#endif

namespace {

constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

// Written out rather than generated, so it reads the way people scan it.
const char* const helpText = R"(Usage: quolb-gif [OPTIONS] INPUT...

Converts pictures to GIF89a files: Windows bitmaps (BMP), TIM pictures,
compressed containers and the items of archives. An INPUT of - is standard
input (its type from -t, or from the mark at the start of bitmaps, TIM
pictures and containers); pipes and FIFOs read like files.

Options:
  -o, --output FILE     the GIF to write (one INPUT only); - for standard
                        output. Default: INPUT's path without its extension,
                        plus ".gif"
  --output-dir DIR      write each GIF into DIR (created if missing) under
                        its input's name
  -t, --type TYPE       bmp, tim, container or archive. Default: from the
                        name: .bmp, .tim, .lzb, or a name ending in "pb" for
                        an archive; any other ending needs -t (any case)
  --transparent COLOR   mark this colour transparent: R,G,B (decimal, 0-255)
                        or #RRGGBB; an input no pixel of which has it fails.
                        Without it, the pixels of a 32-bit bitmap's alpha
                        channel that are less than half opaque become
                        transparent
  --zero-transparent    make the pixels a TIM picture stores as colour 0
                        (drawn as nothing on its console) transparent, and
                        no others; other pictures keep every pixel
  --palette KIND        the colour table of a picture with more than 8 bits
                        per pixel: adaptive (made for the picture; exact
                        when it has at most 256 colours) or fixed (the same
                        256 colours for every picture). Default: adaptive
  --no-dither           take each pixel's nearest colour, without error
                        diffusion
  --lzw                 compress the image data, with the smallest colour
                        table that holds the picture's colours; a picture
                        that does not shrink is written as without it
  --info                print what was loaded as one JSON object per input
                        (path, fileType, width, height, bitCount, colorCount,
                        imageSize, and a note when a colour table is made
                        up); write nothing
  --max-pixels N        refuse pictures of more than N pixels (default
                        178956970, about 13377 x 13377), checked before
                        anything is allocated; 0: no limit
  -q, --quiet           no progress output
  -h, --help            show this help
  --version             show the version

Archives (an archive converts its first item unless told otherwise):
  --item N              convert item N (counting from 1)
  --all                 write every item, to the output's stem plus -001.gif,
                        -002.gif, ... (as many digits as the last item
                        needs); an item without a picture is reported and
                        skipped, keeping its number
  --list                one line per item, tab-separated: number, offset,
                        length, header form, mode, and the picture's
                        width x height and depth, or why it holds none

Examples:
  quolb-gif cat.bmp                     writes cat.gif beside cat.bmp
  quolb-gif -o out/cat.gif cat.bmp      chooses the GIF's name
  quolb-gif --transparent "#FF00FF" sprite.bmp
  quolb-gif --transparent 255,0,255 sprite.bmp
                                        both make magenta transparent
  quolb-gif -q *.bmp                    converts several, one after another
                                        (on Windows the program expands *)
  quolb-gif --lzw -q *.bmp              the same, as small files
  quolb-gif -t bmp - -o - < a.bmp > a.gif
                                        from standard input to output
  quolb-gif --output-dir gifs *.bmp     writes gifs/NAME.gif for each
  quolb-gif --info face.tim             {"path": "face.tim", "width": ...}
  quolb-gif -t container face.bin       reads a compressed container
  quolb-gif --list pack.xpb             shows what an archive holds
  quolb-gif --item 3 pack.xpb           writes item 3 to pack.gif
  quolb-gif --all -o out/pack.gif pack.xpb
                                        writes out/pack-001.gif, -002.gif, ...

Errors go to stderr as "quolb-gif: PATH: reason". Exit status: 0 when every
input converted, 1 when any failed (the others still convert), 2 for a usage
error (nothing is written: two inputs aiming at one GIF, or a GIF that would
land on an input, are usage errors). A GIF replaces the file its name leads
to only once complete, keeping links, mode, owner and group; a file that may
not be written is refused; devices, pipes and standard output are written
through. Interrupted, the converter removes the GIF it was writing.
On Windows names are taken as the system gives them (any script), and NUL
is the null device.
)";

// An interrupted run removes the GIF it was writing, then ends as the
// interruption asks (on POSIX by the signal itself, so the caller sees it).
#ifdef _WIN32
// Every message is UTF-8, names included; a console shows it as such while
// the converter runs, and gets its own code page back afterwards.
UINT consoleCodePage = 0;

void restoreConsole() {
    if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}

void speakUtf8() {
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage == 0 || consoleCodePage == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) {
        consoleCodePage = 0;
        return;
    }
    std::atexit(restoreConsole);
}

BOOL WINAPI onConsoleEvent(DWORD) {
    quolb::removeSaveInProgress();
    restoreConsole();
    return FALSE;  // the default handler ends the process
}

void catchInterruptions() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }
#else
extern "C" void onSignal(int signal) {
    quolb::removeSaveInProgress();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// A standard stream closed by the caller would hand its number to the next
// file opened, and messages would land in a GIF: give it /dev/null instead.
void keepStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) == -1) std::abort();
}

void catchInterruptions() {
    keepStandardStreams();
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}
#endif

// Standard output is a promise: a full disk or a closed pipe is a failure.
int finishOutput(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quolb-gif: standard output: write error\n");
        return status == 0 ? 1 : status;
    }
    return status;
}

int digitsOf(int number) {
    int digits = 1;
    for (; number >= 10; number /= 10) ++digits;
    return digits;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "quolb-gif: %s\nTry 'quolb-gif --help' for more information.\n", message.c_str());
    return exitUsage;
}

int run(const quolb::Arguments& options) {
    using namespace quolb;
    namespace fs = std::filesystem;
    if (options.hasOutput && options.output.empty())
        return usageError("-o: give a file name, or - for standard output");
    if (options.hasOutputDir && options.outputDir.empty()) return usageError("--output-dir: give a folder");
    if (options.hasItem && options.item < 1) return usageError("--item: items count from 1");
    if (options.hasMaxPixels && options.maxPixels < 0)
        return usageError("--max-pixels: give a number of pixels, or 0 for no limit");
    if (options.hasOutput && options.inputs.size() > 1)
        return usageError("-o names one GIF, but " + std::to_string(options.inputs.size()) + " inputs were given");
    if (options.hasOutput && isStandardStream(options.output) && options.all)
        return usageError("--all writes several GIFs, but standard output takes one");
    int standardInputs = 0;
    for (const std::string& input : options.inputs) standardInputs += isStandardStream(input) ? 1 : 0;
    if (standardInputs > 1) return usageError("standard input (-) can be read only once");

    std::optional<TransparentColour> transparent;
    if (options.hasTransparent) {
        transparent = parseColour(options.transparent);
        if (!transparent)
            return usageError("--transparent: '" + options.transparent +
                              "' is not a colour (R,G,B with 0 to 255 each, or #RRGGBB)");
    }

    std::optional<FileType> forcedType;
    if (options.hasType) {
        forcedType = fileTypeFromOption(options.type);
        if (!forcedType)
            return usageError("--type: unknown type '" + options.type + "' (bmp, tim, container or archive)");
    }
    const Action action = options.list ? Action::list : options.info ? Action::info : Action::convert;
    InputFile standardInput;
    if (standardInputs > 0) {
        std::string why;
        if (!openInput("-", standardInput, why)) {
            std::fprintf(stderr, "quolb-gif: standard input: %s\n", why.c_str());
            return exitFailed;
        }
    }

    // Settle every input's type and every output's name before converting
    // anything, so a usage mistake never leaves half the work done.
    std::vector<Job> jobs;
    const bool progress =
        !options.quiet && action == Action::convert && QUOLB_ISATTY(QUOLB_FILENO(stderr)) != 0;
    for (const std::string& input : options.inputs) {
        Job job;
        job.input = input;
        const bool fromStandardInput = isStandardStream(input);
        if (fromStandardInput) job.opened = &standardInput;
        job.type = forcedType                ? *forcedType
                   : fromStandardInput       ? fileTypeFromContent(standardInput.file.get())
                                             : fileTypeFromName(input.c_str());
        if (job.type == FileType::none)
            return usageError(fromStandardInput
                                  ? "standard input: its first bytes do not tell the type; give it with -t"
                                  : printableName(input) +
                                        ": the name does not tell the type (.bmp, .tim, .lzb or ending in pb); "
                                        "give it with -t");
        if (options.hasOutput) {
            job.output = options.output;
        } else if (fromStandardInput) {
            if (action == Action::convert)
                return usageError("standard input needs -o (a file name, or - for standard output)");
        } else if (options.hasOutputDir) {
            job.output = fromSystemPath(systemPath(options.outputDir) / systemPath(defaultOutput(input)).filename());
        } else {
            job.output = defaultOutput(input);
        }
        job.action = action;
        job.transparent = transparent;
        job.gif.lzw = options.lzw;
        job.gif.zeroTransparent = options.zeroTransparent;
        job.gif.palette = options.palette == "fixed" ? GifPalette::fixed : GifPalette::adaptive;
        job.gif.dither = !options.noDither;
        job.item = options.item;
        job.allItems = options.all;
        if (options.hasMaxPixels) job.maxPixels = options.maxPixels;
        job.progress = progress;
        if (options.inputs.size() > 1) {
            char prefix[48];
            std::snprintf(prefix, sizeof prefix, "[%zu/%zu] ", jobs.size() + 1, options.inputs.size());
            job.progressPrefix = prefix;
        }
        jobs.push_back(std::move(job));
    }

    if (action == Action::convert) {
        // Every file the run would write, by identity, so that no GIF of
        // this run lands on another of its GIFs or on any of its inputs.
        std::map<std::string, const Job*> inputs;
        for (const Job& job : jobs)
            if (!isStandardStream(job.input)) inputs.emplace(fileKey(job.input), &job);
        std::map<std::string, std::pair<const Job*, std::string>> outputs;
        ResolvedFolders folders;
        for (Job& job : jobs) {
            std::vector<std::string> names;
            if (job.allItems && job.type == FileType::archive) {
                InputFile archive;
                std::string why;
                if (job.opened) job.items = listArchive(*job.opened);
                else if (openInput(job.input, archive, why)) job.items = listArchive(archive);
                const int count = job.items ? static_cast<int>(job.items->size()) : 0;
                job.itemDigits = std::max(3, digitsOf(count));
                for (int number = 1; number <= count; ++number)
                    names.push_back(itemOutput(job.output, number, job.itemDigits));
            } else {
                names.push_back(job.output);
            }
            for (const std::string& name : names) {
                if (isStandardStream(name)) continue;
                const std::string key = fileKey(name, &folders);
                if (const auto input = inputs.find(key); input != inputs.end())
                    return usageError(printableName(name) + ": the GIF would replace the input " +
                                      printableName(input->second->input) + "; name another with -o");
                const auto [other, fresh] = outputs.emplace(key, std::pair(&job, name));
                if (!fresh)
                    return usageError(printableName(other->second.first->input) + " and " +
                                      printableName(job.input) + " would both be written to " +
                                      printableName(name) + "; convert them apart or use -o");
            }
        }
        if (options.hasOutputDir) {
            std::error_code error;
            fs::create_directories(systemPath(options.outputDir), error);
            if (error) {
                std::fprintf(stderr, "quolb-gif: %s: cannot create the folder: %s\n",
                             printableName(options.outputDir).c_str(), systemReason(error.value()).c_str());
                return exitFailed;
            }
        }
    }
#ifdef _WIN32
    if (options.hasOutput && isStandardStream(options.output)) _setmode(_fileno(stdout), _O_BINARY);
#endif

    bool ok = true;
    for (const Job& job : jobs) {
        if (action == Action::list && jobs.size() > 1) std::printf("%s:\n", printableName(job.input).c_str());
        ok = runJob(job) && ok;
    }
    return ok ? 0 : exitFailed;
}

int runCommandLine(int argc, char** argv) {
    using namespace quolb;
    catchInterruptions();
    Arguments options;
    std::string message;
    switch (parseArguments(argc, argv, options, message)) {
    case ParseOutcome::help: std::fputs(helpText, stdout); return finishOutput(0);
    case ParseOutcome::version: std::puts("quolb-gif " QUOLB_VERSION); return finishOutput(0);
    case ParseOutcome::usageError: return usageError(message);
    case ParseOutcome::run: break;
    }
    return finishOutput(run(options));
}

#ifdef _WIN32
// Windows hands a program its arguments as typed, wildcards included, and
// the names as UTF-16: the converter keeps them as UTF-8 and opens its files
// by their UTF-16 names, so every name a user can type reaches its file.
std::vector<std::string> expandWildcard(const std::string& argument) {
    std::vector<std::string> names;
    if (argument.starts_with('-') || argument.find_first_of("*?") == std::string::npos) return {argument};
    const std::size_t cut = argument.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? std::string() : argument.substr(0, cut + 1);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(quolb::widePath(argument).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {argument};  // reported as missing
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(folder + quolb::narrowPath(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names.empty() ? std::vector<std::string>{argument} : names;
}
#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** wideArguments) {
    quolb::usePathsInUtf8(true);
    speakUtf8();
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = quolb::narrowPath(wideArguments[i]);
        if (i == 0) arguments.push_back(argument);
        else for (std::string& name : expandWildcard(argument)) arguments.push_back(std::move(name));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    return runCommandLine(static_cast<int>(pointers.size()), pointers.data());
}
#else
int main(int argc, char** argv) { return runCommandLine(argc, argv); }
#endif
