#include "support/imagemagick.h"

#include <cstdio>
#include <cstdlib>

namespace quolb::test {

#ifdef _WIN32

bool haveConvert() { return false; }
bool runConvert(const std::string&) { return false; }
std::vector<std::uint8_t> convertReadRgb(const std::string&) { return {}; }

#else

bool haveConvert() {
    static const bool present = std::system("convert -version >/dev/null 2>&1") == 0;
    return present;
}

bool runConvert(const std::string& args) {
    return std::system(("convert " + args + " 2>/dev/null").c_str()) == 0;
}

std::vector<std::uint8_t> convertReadRgb(const std::string& path) {
    const std::string command = "convert '" + path + "' -depth 8 rgb:- 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::vector<std::uint8_t> rgb;
    std::uint8_t buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        rgb.insert(rgb.end(), buffer, buffer + got);
    if (pclose(pipe) != 0) return {};
    return rgb;
}

#endif

}  // namespace quolb::test
