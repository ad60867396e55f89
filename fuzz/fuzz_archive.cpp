#include "image/archive.h"
#include "image/file_io.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Opening the archive again and again steps through its items.
    const auto loaded = quolb::fuzz::loadInput(data, size, quolb::FileType::archive, 4);
    // The item list covers the file from its first marker on, without gaps.
    const quolb::FilePtr file = quolb::openFile(loaded.picture.path.c_str(), "rb");
    const auto items = quolb::listArchiveItems(file.get(), static_cast<std::int64_t>(size));
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].length <= 0 ||
            items[i].offset + items[i].length != (i + 1 < items.size() ? items[i + 1].offset : std::int64_t(size)))
            std::abort();
    return 0;
}
