// Reads the converter's command line into plain values. The argument parser
// stays behind this one function.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quolb {

struct Arguments {
    std::vector<std::string> inputs;
    std::string output;       // given with -o
    std::string type;         // given with -t
    std::string transparent;  // given with --transparent
    std::string outputDir;    // given with --output-dir
    std::string palette = "adaptive";  // given with --palette
    bool hasOutput = false;
    bool hasOutputDir = false;
    bool hasType = false;
    bool hasTransparent = false;
    bool zeroTransparent = false;  // --zero-transparent
    bool hasItem = false;
    bool info = false;
    bool quiet = false;
    bool list = false;
    bool all = false;
    bool lzw = false;
    bool noDither = false;
    int item = 0;
    std::int64_t maxPixels = 0;  // given with --max-pixels
    bool hasMaxPixels = false;
};

enum class ParseOutcome { run, help, version, usageError };

// On usageError `message` says what was wrong.
ParseOutcome parseArguments(int argc, char** argv, Arguments& arguments, std::string& message);

}  // namespace quolb
