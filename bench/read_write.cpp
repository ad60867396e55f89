// For bench/whole-process.sh: the converter's reads, writes and rename in
// one thread, with no packing. It reads FROM in 256 KiB pieces, writes 9/8 as
// many bytes (what a GIF of its pixels takes) from a 2 MiB huge-page buffer
// to a new file beside TO, and renames that file to TO.
//
//   read_write FROM TO
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: read_write FROM TO\n");
        return 2;
    }
    const int in = open(argv[1], O_RDONLY);
    const std::string temporary = std::string(argv[2]) + ".part";
    const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) return 1;
    constexpr std::size_t bufferBytes = std::size_t{2} << 20;
    auto* buffer = static_cast<unsigned char*>(::operator new[](bufferBytes, std::align_val_t{bufferBytes}));
    madvise(buffer, bufferBytes, MADV_HUGEPAGE);
    static unsigned char piece[256 << 10];
    std::size_t used = 0;
    const auto put = [&](const unsigned char* bytes, std::size_t count) {
        while (count > 0) {
            const std::size_t n = std::min(count, bufferBytes - used);
            std::memcpy(buffer + used, bytes, n);
            used += n;
            bytes += n;
            count -= n;
            if (used == bufferBytes) {
                if (write(out, buffer, used) != static_cast<ssize_t>(used)) return false;
                used = 0;
            }
        }
        return true;
    };
    for (ssize_t got; (got = read(in, piece, sizeof piece)) > 0;) {
        const auto n = static_cast<std::size_t>(got);
        if (!put(piece, n) || !put(piece, n / 8)) return 1;
    }
    if (used > 0 && write(out, buffer, used) != static_cast<ssize_t>(used)) return 1;
    if (close(out) != 0) return 1;
    close(in);
    return std::rename(temporary.c_str(), argv[2]) == 0 ? 0 : 1;
}
