#include "archive.h"
#include "file_io.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = quolb::fuzz::writeInput(data, size);

    // Opening the archive again and again steps through its items.
    quolb::Picture picture;
    std::string why;
    for (int open = 0; open < 4; ++open) {
        quolb::fuzz::loadAs(picture, path, quolb::FileType::archive, why);
        if (picture.archiveOffset < 0 || static_cast<std::size_t>(picture.archiveOffset) > size) std::abort();
    }

    // The item list covers the file from its first marker on, without gaps.
    const quolb::FilePtr file = quolb::openFile(path.c_str(), "rb");
    const auto items = quolb::listArchiveItems(file.get(), static_cast<std::int64_t>(size));
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto end = i + 1 < items.size() ? items[i + 1].offset : static_cast<std::int64_t>(size);
        if (items[i].length <= 0 || items[i].offset + items[i].length != end) std::abort();
    }
    return 0;
}
