// The Windows build's yardstick for bench/whole-process.sh --wine: copies
// one file with the system's own copy, so that the converter under Wine is
// timed against copying the same bitmap in the same surroundings. With no
// arguments it does nothing, which times Wine's start and exit alone.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 3) return 0;
    return CopyFileA(argv[1], argv[2], FALSE) ? 0 : 1;
}
