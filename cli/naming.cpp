#include "cli/naming.h"

#include <array>
#include <cstdio>

#include "image/paths.h"

namespace quolb {

namespace {

struct TypeName {
    FileType type;
    std::string_view name;
};

constexpr std::array<TypeName, 4> typeNames{{
    {FileType::bitmap, "bmp"},
    {FileType::tim, "tim"},
    {FileType::container, "container"},
    {FileType::archive, "archive"},
}};

std::optional<int> parseComponent(std::string_view text, int base, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        int digit = 0;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * base + digit;
    }
    if (value > 255) return std::nullopt;
    return value;
}

std::string withoutExtension(const std::string& path) { return path.substr(0, splitPath(path).extensionStart); }

}  // namespace

std::optional<FileType> fileTypeFromOption(std::string_view name) {
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const TypeName& entry : typeNames)
        if (entry.name == lower) return entry.type;
    return std::nullopt;
}

std::string_view fileTypeOption(FileType type) {
    for (const TypeName& entry : typeNames)
        if (entry.type == type) return entry.name;
    return "none";
}

std::optional<TransparentColour> parseColour(std::string_view text) {
    std::array<std::optional<int>, 3> parts;
    if (!text.empty() && text.front() == '#') {
        if (text.size() != 7) return std::nullopt;
        for (std::size_t i = 0; i < 3; ++i) parts[i] = parseComponent(text.substr(1 + 2 * i, 2), 16, 2);
    } else {
        const std::size_t first = text.find(',');
        const std::size_t second = first == std::string_view::npos ? first : text.find(',', first + 1);
        if (second == std::string_view::npos) return std::nullopt;
        parts[0] = parseComponent(text.substr(0, first), 10, 3);
        parts[1] = parseComponent(text.substr(first + 1, second - first - 1), 10, 3);
        parts[2] = parseComponent(text.substr(second + 1), 10, 3);
    }
    if (!parts[0] || !parts[1] || !parts[2]) return std::nullopt;
    return TransparentColour{static_cast<std::uint8_t>(*parts[0]), static_cast<std::uint8_t>(*parts[1]),
                             static_cast<std::uint8_t>(*parts[2])};
}

std::string defaultOutput(const std::string& input) { return withoutExtension(input) + ".gif"; }

std::string itemOutput(const std::string& output, int number, int digits) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "-%0*d.gif", digits, number);
    return withoutExtension(output) + suffix;
}

}  // namespace quolb
