// quolb-gif: converts bitmaps, TIM pictures, compressed containers and
// archive items to GIF89a files from the command line.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/convert.h"
#include "cli/naming.h"
#include "image/paths.h"

#ifdef _WIN32
#include <io.h>
#define QUOLB_ISATTY(fd) _isatty(fd)
#define QUOLB_FILENO(f) _fileno(f)
#else
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
compressed containers and the items of archives.

Options:
  -o, --output FILE     the GIF to write (one INPUT only). Default: INPUT's
                        path without its extension, plus ".gif"
  -t, --type TYPE       bmp, tim, container or archive. Default: from the
                        name: .bmp, .tim, .lzb, or a name ending in "pb" for
                        an archive; any other ending needs -t
  --transparent COLOR   mark this colour transparent: R,G,B (decimal, 0-255)
                        or #RRGGBB. Without it, the pixels of a 32-bit
                        bitmap's alpha channel that are less than half
                        opaque become transparent
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
                        -002.gif, ...; an item without a picture is reported
                        and skipped, keeping its number
  --list                one line per item, tab-separated: number, offset,
                        length, header form, mode, and the picture's
                        width x height and depth, or why it holds none

Examples:
  quolb-gif cat.bmp                     writes cat.gif beside cat.bmp
  quolb-gif -o out/cat.gif cat.bmp      chooses the GIF's name
  quolb-gif --transparent '#FF00FF' sprite.bmp
  quolb-gif --transparent 255,0,255 sprite.bmp
                                        both make magenta transparent
  quolb-gif -q *.bmp                    converts several, one after another
  quolb-gif --lzw -q *.bmp              the same, as small files
  quolb-gif --info face.tim             {"path": "face.tim", "width": ...}
  quolb-gif -t container face.bin       reads a compressed container
  quolb-gif --list pack.xpb             shows what an archive holds
  quolb-gif --item 3 pack.xpb           writes item 3 to pack.gif
  quolb-gif --all -o out/pack.gif pack.xpb
                                        writes out/pack-001.gif, -002.gif, ...

Errors go to stderr as "quolb-gif: PATH: reason". Exit status: 0 when every
input converted, 1 when any failed (the others still convert), 2 for a usage
error.
)";

int usageError(const std::string& message) {
    std::fprintf(stderr, "quolb-gif: %s\nTry 'quolb-gif --help' for more information.\n", message.c_str());
    return exitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quolb;
    Arguments options;
    std::string message;
    switch (parseArguments(argc, argv, options, message)) {
    case ParseOutcome::help: std::fputs(helpText, stdout); return 0;
    case ParseOutcome::version: std::puts("quolb-gif " QUOLB_VERSION); return 0;
    case ParseOutcome::usageError: return usageError(message);
    case ParseOutcome::run: break;
    }

    if (options.hasItem && options.item < 1) return usageError("--item: items count from 1");
    if (options.hasMaxPixels && options.maxPixels < 0)
        return usageError("--max-pixels: give a number of pixels, or 0 for no limit");
    if (options.hasOutput && options.inputs.size() > 1)
        return usageError("-o names one GIF, but " + std::to_string(options.inputs.size()) + " inputs were given");

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
    // Settle every input's type before converting anything, so a usage
    // mistake never leaves half the work done.
    std::vector<Job> jobs;
    const Action action = options.list ? Action::list : options.info ? Action::info : Action::convert;
    const bool progress =
        !options.quiet && action == Action::convert && QUOLB_ISATTY(QUOLB_FILENO(stderr)) != 0;
    for (const std::string& input : options.inputs) {
        Job job;
        job.input = input;
        job.type = forcedType ? *forcedType : fileTypeFromName(input.c_str());
        if (job.type == FileType::none)
            return usageError(input + ": the name does not tell the type (.bmp, .tim, .lzb or ending in pb); "
                                      "give it with -t");
        job.output = options.hasOutput ? options.output : defaultOutput(input);
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
        if (options.inputs.size() > 1)
            job.progressPrefix = "[" + std::to_string(jobs.size() + 1) + "/" +
                                 std::to_string(options.inputs.size()) + "] ";
        jobs.push_back(std::move(job));
    }

    bool ok = true;
    for (const Job& job : jobs) {
        if (action == Action::list && jobs.size() > 1) std::printf("%s:\n", job.input.c_str());
        ok = runJob(job) && ok;
    }
    return ok ? 0 : exitFailed;
}
