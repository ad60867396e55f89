#!/usr/bin/env python3
"""Compares GIFs made from the bitmap suite's files with the suite's own
reference renderings, decoding both with Pillow.

    compare_bmpsuite.py HTML_FOLDER LIST

LIST holds one "suite/name.bmp<TAB>gif path" per line. The suite's page
names each file's reference PNG (some files have alternatives, any of which
counts). Pixels the reference leaves fully transparent may be anything.
Prints "same NAME", "differs NAME: ..." or "no reference NAME" per line."""
import html.parser
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


def same(gif, png):
    if gif.size != png.size:
        return f"size {gif.size} against {png.size}"
    a, b = gif.convert("RGBA").getdata(), png.convert("RGBA").getdata()
    for i, (p, q) in enumerate(zip(a, b)):
        if q[3] != 0 and p[:3] != q[:3]:
            return f"pixel {i % gif.size[0]},{i // gif.size[0]}: {p[:3]} against {q[:3]}"
    return None


def main():
    folder = pathlib.Path(sys.argv[1])
    parser = References()
    parser.feed((folder / "bmpsuite.html").read_text(encoding="utf-8", errors="replace"))
    for line in pathlib.Path(sys.argv[2]).read_text().splitlines():
        name, gif_path = line.split("\t")
        pngs = parser.rows.get(name)
        if not pngs:
            print("no reference", name)
            continue
        gif = Image.open(gif_path)
        reasons = [same(gif, Image.open(folder / png)) for png in pngs]
        print("same" if None in reasons else "differs", name + ("" if None in reasons else ": " + reasons[0]))


main()
