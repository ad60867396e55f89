#!/usr/bin/env python3
"""Writes the benchmarks' big picture: a SIDE x SIDE 8-bit bitmap with a
256-entry table, its pixels in a pattern, not constant, so nothing
downstream can shortcut them.

    bench/make_bitmap.py PATH SIDE
"""

import struct
import sys


def write_bitmap(path, side):
    """Writes the bitmap; gives the size of its DIB (header, table, rows)."""
    table = b"".join(struct.pack("<4B", (i * 3) & 255, (i * 5) & 255, (i * 7) & 255, 0) for i in range(256))
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + side * side, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, side, side, 1, 8, 0, side * side, 2835, 2835, 256, 0)
    row = bytes((x * 7 + (x >> 5)) & 255 for x in range(side))
    with open(path, "wb") as f:
        f.write(header + info + table)
        for y in range(side):
            f.write(row[y & 255:] + row[:y & 255])
    return offset + side * side - 14


if __name__ == "__main__":
    write_bitmap(sys.argv[1], int(sys.argv[2]))
