#!/usr/bin/env python3
"""Compares GIFs made from the bitmap suite's files with the suite's own
reference renderings, decoding both with Pillow.

    compare_bmpsuite.py HTML_FOLDER LIST

LIST holds one "suite/name.bmp<TAB>gif path<TAB>bit count" per line. The
suite's page names each file's reference PNG (some files have alternatives,
any of which counts). Pixels the reference leaves fully transparent may be
anything; in a 32-bit picture, whose alpha the GIF carries, those below half
opacity must be exactly the GIF's transparent ones. A picture of at most 256
colours must come out exactly, one of more within 30 dB PSNR.
Prints "same NAME", "differs NAME: ..." or "no reference NAME" per line."""
import html.parser
import math
import pathlib
import sys

from PIL import Image


class References(html.parser.HTMLParser):
    """Each table row's first cell names a file; the PNGs in the row are its renderings."""

    def __init__(self):
        super().__init__()
        self.rows, self.cell, self.name, self.pngs, self.in_first = {}, 0, None, [], False

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.cell, self.name, self.pngs = 0, None, []
        elif tag == "td":
            self.cell += 1
            self.in_first = self.cell == 1
        elif tag == "img" and self.cell >= 2:
            src = dict(attrs).get("src", "")
            if src.endswith(".png"):
                self.pngs.append(src)

    def handle_data(self, data):
        if self.in_first and data.strip().endswith(".bmp"):
            self.name = data.strip()

    def handle_endtag(self, tag):
        if tag == "td":
            self.in_first = False
        elif tag == "tr" and self.name:
            self.rows[self.name] = list(self.pngs)


def same(gif, png, alpha):
    if gif.size != png.size:
        return f"size {gif.size} against {png.size}"
    a, b = gif.convert("RGBA").getdata(), png.convert("RGBA").getdata()
    shown = []
    for i, (p, q) in enumerate(zip(a, b)):
        clear = q[3] < 128 if alpha else q[3] == 0
        where = f"pixel {i % gif.size[0]},{i // gif.size[0]}"
        if alpha and (p[3] == 0) != clear:
            return f"{where}: GIF alpha {p[3]} against {q[3]}"
        if not clear:
            shown.append((where, p[:3], q[:3]))
    if len({q for _, _, q in shown}) <= 256:
        for where, p, q in shown:
            if p != q:
                return f"{where}: {p} against {q}"
        return None
    error = sum((x - y) ** 2 for _, p, q in shown for x, y in zip(p, q)) / (3 * len(shown))
    quality = 10 * math.log10(255 * 255 / error) if error else math.inf
    return None if quality > 30 else f"PSNR {quality:.1f} dB"


def main():
    folder = pathlib.Path(sys.argv[1])
    parser = References()
    parser.feed((folder / "bmpsuite.html").read_text(encoding="utf-8", errors="replace"))
    for line in pathlib.Path(sys.argv[2]).read_text().splitlines():
        name, gif_path, bits = line.split("\t")
        pngs = parser.rows.get(name)
        if not pngs:
            print("no reference", name)
            continue
        gif = Image.open(gif_path)
        reasons = [same(gif, Image.open(folder / png), bits == "32") for png in pngs]
        print("same" if None in reasons else "differs", name + ("" if None in reasons else ": " + reasons[0]))


main()
