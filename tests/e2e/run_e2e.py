#!/usr/bin/env python3
"""Drives QuolbGif.exe under Wine the way a user would, through real key
presses and mouse clicks on an X server of its own, and checks what the
user would see and the file the program writes.

    run_e2e.py QuolbGif.exe SOURCE_DIR --box-reader e2e_box_text.exe [--screenshot docs/screenshot.png]

Needs Xvfb, xdotool, ImageMagick (import, convert) and Wine. The program
runs in a Wine virtual desktop (so the window gets its frame and menu drawn)
inside a Wine prefix of its own, apart from the prefix the unit tests use.
Every wait polls with a deadline; nothing relies on a fixed sleep.
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SCREEN = (1024, 768)
OPEN_TITLES = ("開く", "Open")
SAVE_TITLES = ("名前を付けて保存", "保存", "Save")
ABOUT_TITLES = ("ﾊﾞｰｼﾞｮﾝ情報",)
MAGENTA = (255, 0, 255)


class Failure(Exception):
    pass


def log(message):
    print("[e2e %6.1fs] %s" % (time.monotonic() - START, message), flush=True)


START = time.monotonic()


def wait_for(what, probe, timeout=20.0, interval=0.1):
    """Polls probe() until it gives something truthy; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(interval)


# --- the X side ----------------------------------------------------------------

class Desktop:
    def __init__(self, env):
        self.env = env

    def run(self, *args, check=True):
        result = subprocess.run(args, env=self.env, capture_output=True, timeout=30)
        if check and result.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), result.stderr.decode(errors="replace")))
        return result.stdout.decode("utf-8", errors="replace")

    def windows_named(self, pattern):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern], env=self.env,
                             capture_output=True, timeout=30).stdout.decode()
        return [int(w) for w in out.split()]

    def window_name(self, window):
        result = subprocess.run(["xdotool", "getwindowname", str(window)], env=self.env,
                                capture_output=True, timeout=30)
        return result.stdout.decode("utf-8", errors="replace").strip() if result.returncode == 0 else None

    def geometry(self, window):
        """Absolute x, y, width, height of a window (its outer frame)."""
        info = {}
        for line in self.run("xwininfo", "-id", str(window)).splitlines():
            key, _, value = line.strip().partition(":")
            info[key] = value.strip()
        return (int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"]),
                int(info["Width"]), int(info["Height"]))

    def focus(self, window):
        self.run("xdotool", "windowfocus", "--sync", str(window))

    def keys(self, *names):
        for name in names:
            self.run("xdotool", "key", "--delay", "40", name)

    def click(self, x, y):
        # --sync waits for the pointer to move, which it never does when it
        # is there already.
        if "x:%d y:%d " % (x, y) not in self.run("xdotool", "getmouselocation"):
            self.run("xdotool", "mousemove", "--sync", str(x), str(y))
        self.run("xdotool", "click", "1")

    def grab(self):
        """The whole screen as rows of RGB tuples."""
        data = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"],
                              env=self.env, capture_output=True, timeout=30).stdout
        width, height = SCREEN
        if len(data) != width * height * 3:
            raise Failure("screen grab gave %d bytes" % len(data))
        return Screen(data, width, height)

    def save_png(self, path, crop=None):
        args = ["import", "-window", "root"]
        if crop:
            x, y, w, h = crop
            args += ["-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage"]
        # No time chunks: the committed screenshot changes only when the picture does.
        args += ["-define", "png:exclude-chunks=date,time"]
        subprocess.run(args + [path], env=self.env, check=True, timeout=30)


class Screen:
    def __init__(self, data, width, height):
        self.data, self.width, self.height = data, width, height

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def find(self, colour, area):
        """First pixel of a colour in scan order inside area (x, y, w, h)."""
        x0, y0, w, h = area
        for y in range(max(0, y0), min(self.height, y0 + h)):
            for x in range(max(0, x0), min(self.width, x0 + w)):
                if self.pixel(x, y) == colour:
                    return x, y
        return None


def start_xvfb(env):
    """Starts a private X server and returns (process, display name)."""
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
         "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL, env=env)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip():
        process.kill()
        raise Failure("Xvfb did not start")
    return process, ":" + number.decode().strip()


# --- files ---------------------------------------------------------------------

def read_bmp8(path):
    """Colour table and top-down rows of an uncompressed 8-bit bitmap."""
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bits = struct.unpack_from("<IiiHH", data, 14)
    if bits != 8:
        raise Failure("%s is not an 8-bit bitmap" % path)
    table = [tuple(data[14 + header_size + 4 * i + k] for k in (2, 1, 0)) for i in range(256)]
    stride = (width + 3) & ~3
    rows = [data[offset + r * stride: offset + r * stride + width] for r in range(height)]
    return table, rows[::-1]


def read_tim8(data):
    """Colours (widened to 8 bits) and top-down rows of an 8-bit TIM picture."""
    clut_length = struct.unpack_from("<I", data, 8)[0]
    colours = []
    for i in range(256):
        value = struct.unpack_from("<H", data, 20 + 2 * i)[0]
        colours.append(tuple((value >> s & 31) * 255 // 31 for s in (0, 5, 10)))
    width16, height = struct.unpack_from("<HH", data, 8 + clut_length + 8)
    start = 8 + clut_length + 12
    width = 2 * width16
    rows = [data[start + r * width: start + (r + 1) * width] for r in range(height)]
    return colours, rows


def make_archive(tim, path):
    """An archive of three containers of an 8-bit TIM picture, their payloads
    stored as literals; the second has red and blue swapped, so the items
    differ. Returns the three TIM pictures."""
    clut = 20
    swapped = bytearray(tim)
    for i in range(clut, clut + 512, 2):
        value = struct.unpack_from("<H", tim, i)[0]
        struct.pack_into("<H", swapped, i, value & 0x83E0 | (value & 31) << 10 | value >> 10 & 31)
    pictures = [tim, bytes(swapped), tim]
    # Mode 0, every flag byte 0: eight literal bytes follow each.
    items = [b"TIM\0\0\0\0\0\x10" + b"".join(b"\0" + p[i:i + 8] for i in range(1, len(p), 8)) for p in pictures]
    archive = b"".join(items)
    if archive.count(b"TIM") != len(items) or b"LZSS" in archive:
        raise Failure("an archive item's payload holds a marker")
    open(path, "wb").write(archive)
    return pictures


def write_bmp24(path, table, rows):
    """The same picture as a 24-bit bitmap, bottom row first."""
    width, height = len(rows[0]), len(rows)
    stride = (3 * width + 3) & ~3
    pixels = b"".join(bytes(v for i in row for v in table[i][::-1]).ljust(stride, b"\0") for row in rows[::-1])
    header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + len(pixels), 0, 0, 54, 40, width, height, 1, 24, 0,
                         len(pixels), 2835, 2835, 0, 0)
    open(path, "wb").write(header + pixels)


def write_bmp8(path, table, rows):
    """An uncompressed 8-bit bitmap of top-down rows."""
    width, height = len(rows[0]), len(rows)
    stride = (width + 3) & ~3
    pixels = b"".join(bytes(row) + bytes(stride - width) for row in reversed(rows))
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in table)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 0, 0, 256, 0)
    offset = 14 + len(header) + len(palette)
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + palette + pixels)


def make_large_bmp(sample, path, corner_index, corner_colour):
    """The sample tiled into 1000 x 800 pixels, its bottom-right pixel of a
    colour found nowhere else: a picture larger than the window."""
    table, rows = read_bmp8(sample)
    table[corner_index] = corner_colour
    width, height = 1000, 800
    tiled = [bytearray(rows[y % len(rows)][x % len(rows[0])] for x in range(width)) for y in range(height)]
    tiled[-1][-1] = corner_index
    write_bmp8(path, table, tiled)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check_gif(gif, bmp, picked, flag=1):
    table, rows = read_bmp8(bmp)
    width, height = len(rows[0]), len(rows)
    data = open(gif, "rb").read()
    if data[:6] != b"GIF89a":
        raise Failure("saved file is not a GIF89a file")
    want = table.index(picked)
    if data[784] != flag:
        raise Failure("transparent flag at byte 784 is %d, want %d" % (data[784], flag))
    if data[787] != want:
        raise Failure("transparent index at byte 787 is %d, want %d" % (data[787], want))
    n = width * height
    codes = n + (n - 1) // 253 + 1
    b = (9 * codes + 7) // 8
    if len(data) != 802 + b + (b + 254) // 255:
        raise Failure("GIF is %d bytes, want %d" % (len(data), 802 + b + (b + 254) // 255))
    check_pixels(gif, table, rows, picked, flag)
    log("GIF checked: flag %d, index %d, %d bytes, %d x %d decoded" % (flag, want, len(data), width, height))


def check_pixels(gif, table, rows, picked, flag=1):
    """An independent decoder must see the picture, with the picked colour see-through."""
    width, height = len(rows[0]), len(rows)
    n = width * height
    rgba = subprocess.run(["convert", gif, "-depth", "8", "rgba:-"], capture_output=True,
                          check=True, timeout=30).stdout
    if len(rgba) != n * 4:
        raise Failure("decoded GIF has %d bytes, want %d" % (len(rgba), n * 4))
    for y in range(height):
        for x in range(width):
            i = (y * width + x) * 4
            colour = table[rows[y][x]]
            seen = tuple(rgba[i:i + 3]), rgba[i + 3]
            if colour == picked and flag and seen[1] != 0:
                raise Failure("pixel %d,%d should be transparent" % (x, y))
            if (colour != picked or not flag) and seen != (colour, 255):
                raise Failure("pixel %d,%d decodes as %r, want %r" % (x, y, seen, colour))


def check_same_picture(small, gif):
    """A compressed save: smaller than the plain one, decoding to the same RGBA."""
    if os.path.getsize(small) >= os.path.getsize(gif):
        raise Failure("the compressed GIF is %d bytes, the plain one %d"
                      % (os.path.getsize(small), os.path.getsize(gif)))
    decode = lambda path: subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True,
                                         check=True, timeout=30).stdout
    if decode(small) != decode(gif):
        raise Failure("the compressed GIF decodes differently from the plain one")
    log("compressed GIF checked: %d bytes against %d, same picture" % (os.path.getsize(small), os.path.getsize(gif)))


# --- the session -----------------------------------------------------------------

class App:
    """The running program and the places on screen a user aims at."""

    def __init__(self, desktop, process):
        self.desktop = desktop
        self.process = process
        self.window = wait_for("the main window", lambda: first(desktop.windows_named("^Quolb")))
        self.origin = None

    def title(self):
        return self.desktop.window_name(self.window) or ""

    def frame(self):
        return self.desktop.geometry(self.window)

    def locate_client(self, marker):
        """Finds the client origin from the picture's top-left pixel (client
        0, 23), whose colour is known; the frame sizes are Wine's business."""
        x, y, w, h = self.frame()
        found = wait_for("the picture on screen",
                         lambda: self.desktop.grab().find(marker, (x, y, w, h)))
        self.origin = (found[0], found[1] - 23)
        log("client origin at %d,%d (frame at %d,%d)" % (self.origin + (x, y)))

    def client(self, cx, cy):
        return self.origin[0] + cx, self.origin[1] + cy

    def click_client(self, cx, cy):
        self.desktop.click(*self.client(cx, cy))

    def screen_colour(self, cx, cy):
        return self.desktop.grab().pixel(*self.client(cx, cy))

    def menu(self, *keys):
        self.desktop.focus(self.window)
        self.desktop.keys("alt+f", *keys)

    def dialog(self, titles):
        pattern = "^(%s)$" % "|".join(titles)
        return wait_for("a dialog titled " + "/".join(titles),
                        lambda: first(self.desktop.windows_named(pattern)))

    def dialog_gone(self, dialog):
        wait_for("the dialog to close", lambda: dialog not in self.desktop.windows_named("."))

    def type_file_name(self, dialog, path):
        """Puts a name into the dialog's file name box, replacing what it held,
        by a message: keys typed under load can lose shifted and non-ASCII
        characters."""
        self.desktop.focus(dialog)
        self.desktop.keys("alt+n")
        env = self.desktop.env
        if subprocess.run([env["QUOLB_WINE_RUN"], env["QUOLB_BOX_READER"], "--name", path], env=env,
                          capture_output=True, timeout=60).returncode != 0:
            raise Failure("no file dialog took the name " + path)

    def wait_title(self, name):
        want = "[%s]" % name
        title = wait_for("the title to name " + want, lambda: self.title() if want in self.title() else None)
        if not title.startswith("Quolb～GIF   ["):
            raise Failure("title reads %r" % title)
        return title

    def message_box(self):
        """The text of the message box on screen, read back from the box by
        the box reader, after which Enter closes it."""
        box = self.dialog(("Quolb～GIF",))
        result = subprocess.run([self.desktop.env["QUOLB_WINE_RUN"], self.desktop.env["QUOLB_BOX_READER"]],
                                env=self.desktop.env, capture_output=True, timeout=60)
        if result.returncode != 0:
            raise Failure("the box reader found no box")
        self.desktop.focus(box)
        self.desktop.keys("Return")
        self.dialog_gone(box)
        return result.stdout.decode("utf-8", errors="replace")

    def open_file(self, path, entry_keys=(), keys=("alt+f", "o"), box=False, shown_as=None):
        before = self.title()
        self.desktop.focus(self.window)
        self.desktop.keys(*keys)
        dialog = self.dialog(OPEN_TITLES)
        if entry_keys:  # move along the type list from the entry it starts on
            self.desktop.focus(dialog)
            self.desktop.keys("alt+t", *entry_keys)
        self.type_file_name(dialog, windows_path(path))
        self.desktop.keys("Return")
        self.dialog_gone(dialog)
        text = self.message_box() if box else None
        title = self.wait_title(shown_as or os.path.basename(path))
        log("opened %s; title %r (was %r)" % (os.path.basename(path), title, before))
        return text

    def open_again(self, name):
        """File -> Open, Enter: opens whatever the dialog starts on."""
        self.menu("o")
        dialog = self.dialog(OPEN_TITLES)
        self.desktop.focus(dialog)
        self.desktop.keys("Return")
        self.dialog_gone(dialog)
        return self.wait_title(name)

    def save_file(self, keys=("alt+f", "s"), confirm=("Return",)):
        """Saves under the proposed name; confirm answers the dialog (and an
        overwrite question)."""
        self.desktop.focus(self.window)
        self.desktop.keys(*keys)
        dialog = self.dialog(SAVE_TITLES)
        self.desktop.focus(dialog)
        self.desktop.keys("Return")
        for key in confirm[1:]:
            time.sleep(0.5)
            self.desktop.keys(key)
        self.dialog_gone(dialog)


def first(items):
    return items[0] if items else None


def expect_colour(app, cx, cy, colour, what):
    seen = wait_for("%s to show %r" % (what, colour),
                    lambda: app.screen_colour(cx, cy) == colour and colour, timeout=10)
    return seen


def expect_box(text, sentence, name, reason=None):
    """A box: the sentence, then the file's name and the reason (if any) on
    a line of their own."""
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    want = [sentence, name if reason is None else "%s: %s" % (name, reason)]
    if lines[:1] != want[:1] or (reason is not None and not lines[1].startswith(want[1])) or \
            (reason is None and lines[1:] != want[1:]):
        raise Failure("the box reads %r, want %r" % (text, want))
    log("box: %s %s: ..." % (sentence, name))


def scroll_to_bottom_right(app, corner):
    """Clicks the two scroll bars' troughs, near their far ends, until the
    picture's bottom-right pixel shows: only at the end of both bars."""
    x, y, w, h = app.frame()
    border = app.origin[0] - x
    right, bottom = x + w - border, y + h - border  # the client area's far edges, bars included
    for _ in range(12):
        found = app.desktop.grab().find(corner, (app.origin[0], app.origin[1] + 23, w, h))
        if found:
            return found
        app.desktop.click(right - 8, bottom - 40)
        app.desktop.click(right - 40, bottom - 8)
        time.sleep(0.3)
    raise Failure("the picture's bottom-right corner never came into view")


def session(desktop, exe, work, screenshot):
    bmp = os.path.join(work, "sample.bmp")
    tim = os.path.join(work, "face.tim")
    gif = os.path.join(work, "sample.gif")
    large = os.path.join(work, "large.bmp")
    table, rows = read_bmp8(bmp)
    corner = (12, 34, 56)
    make_large_bmp(bmp, large, 17, corner)

    # A file named on the command line opens at start.
    process = subprocess.Popen([desktop.env["QUOLB_WINE_RUN"], exe, "large.bmp"], cwd=work, env=desktop.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = App(desktop, process)
    log("main window %d: %r" % (app.window, app.title()))
    app.wait_title("large.bmp")
    app.locate_client(table[rows[0][0]])

    # Scrolled to its bottom-right corner, the picture's last pixel is picked
    # there: the swatch shows it and the GIF makes its index transparent.
    app.click_client(10, 11)
    spot = scroll_to_bottom_right(app, corner)
    desktop.click(*spot)
    expect_colour(app, 200, 10, corner, "the swatch")
    log("scrolled to the bottom-right corner and picked it")
    if screenshot:
        desktop.save_png(screenshot, app.frame())
        log("screenshot written to " + screenshot)
    app.save_file(keys=("ctrl+s",))
    large_gif = os.path.join(work, "large.gif")
    wait_for("large.gif to be complete",
             lambda: os.path.exists(large_gif) and open(large_gif, "rb").read()[-1:] == b";")
    check_gif(large_gif, large, corner)
    # Ctrl+T switches transparent mode off.
    app.desktop.focus(app.window)
    app.desktop.keys("ctrl+t")

    # Ctrl+O opens the dialog; the sample bitmap through it.
    app.open_file(bmp, keys=("ctrl+o",))
    app.locate_client(table[rows[0][0]])

    # The picture is shown the right way up in its own colours.
    for (px, py) in ((0, 0), (60, 84), (150, 36), (100, 119), (199, 119)):
        expect_colour(app, px, 23 + py, table[rows[py][px]], "picture pixel %d,%d" % (px, py))

    # Transparent mode off: a click on the picture picks nothing, and the
    # well still shows the colour picked on the other picture.
    swatch = (200, 10)
    expect_colour(app, *swatch, corner, "the well after a new Open")
    app.click_client(53, 23 + 90)
    time.sleep(0.3)  # give a wrongly enabled picker the chance to paint
    if app.screen_colour(*swatch) != corner:
        raise Failure("the picker reacted while transparent mode was off")

    # Switch transparent mode on from the keyboard (Tab to the check box,
    # Space), then pick two colours.
    desktop.focus(app.window)
    desktop.keys("Tab", "space")
    log("transparent mode switched on with Tab and Space")
    red = table[rows[90][53]]
    app.click_client(53, 23 + 90)
    expect_colour(app, *swatch, red, "the swatch")
    log("picked %r from the house" % (red,))
    app.click_client(0, 23)  # the picture's first column and first row pick too
    expect_colour(app, *swatch, MAGENTA, "the swatch")
    expect_colour(app, 192, 2, MAGENTA, "the swatch's top-left")
    expect_colour(app, 210, 20, MAGENTA, "the swatch's bottom-right")
    log("picked magenta from the mat at the top-left pixel")

    # The well keeps showing the colour through a real maximise, minimise
    # and restore from the window menu. The client area keeps its place in
    # the frame (a maximised frame's borders lie off the screen).
    frame, origin = app.frame(), app.origin
    desktop.focus(app.window)
    desktop.keys("alt+space", "x")
    wait_for("the window to fill the screen", lambda: app.frame()[2] >= SCREEN[0])
    maximised = app.frame()
    app.origin = (origin[0] + maximised[0] - frame[0], origin[1] + maximised[1] - frame[1])
    expect_colour(app, *swatch, MAGENTA, "the well when maximised")
    for key in ("r", "n", "r"):
        desktop.focus(app.window)
        desktop.keys("alt+space", key)
        if key == "n":
            wait_for("the window to be minimised", lambda: app.frame()[2] < frame[2])
    wait_for("the window to come back", lambda: app.frame() == frame)
    app.origin = origin
    expect_colour(app, *swatch, MAGENTA, "the well after a maximise, a minimise and restores")
    log("the well showed magenta after a maximise, a minimise and restores")

    # Save: the dialog proposes the path with .gif for its extension; Enter takes it.
    app.save_file()
    wait_for("sample.gif", lambda: os.path.exists(gif) and os.path.getsize(gif) > 800)
    wait_for("sample.gif to be complete", lambda: open(gif, "rb").read()[-1:] == b";")
    check_gif(gif, bmp, MAGENTA)

    # Save again as the second type: compressed, smaller, the same picture.
    small = os.path.join(work, "small.gif")
    app.menu("s")
    dialog = app.dialog(SAVE_TITLES)
    desktop.focus(dialog)
    desktop.keys("alt+t", "Down")
    app.type_file_name(dialog, windows_path(small))
    desktop.keys("Return")
    app.dialog_gone(dialog)
    wait_for("small.gif to be complete", lambda: os.path.exists(small) and open(small, "rb").read()[-1:] == b";")
    check_same_picture(small, gif)

    # Cancelling either dialog changes nothing.
    title = app.title()
    stamp = os.stat(gif).st_mtime_ns, os.path.getsize(gif)
    listing = sorted(os.listdir(work))
    for keys, titles in ((("o",), OPEN_TITLES), (("s",), SAVE_TITLES)):
        app.menu(*keys)
        dialog = app.dialog(titles)
        desktop.focus(dialog)
        desktop.keys("Escape")
        app.dialog_gone(dialog)
    if app.title() != title:
        raise Failure("a cancelled dialog changed the title to %r" % app.title())
    if (os.stat(gif).st_mtime_ns, os.path.getsize(gif)) != stamp or sorted(os.listdir(work)) != listing:
        raise Failure("a cancelled dialog touched the files")
    log("both dialogs cancelled; title and files unchanged")

    # A Save that cannot write says so and leaves the file as it was: a
    # read-only GIF is not replaced.
    os.chmod(gif, 0o444)
    before = open(gif, "rb").read()
    app.save_file(confirm=("Return", "alt+y"))
    expect_box(app.message_box(), "GIFファイルを書き込めません。", "sample.gif", "the file is read-only")
    if open(gif, "rb").read() != before or sorted(os.listdir(work)) != listing:
        raise Failure("a failed save touched the files")
    os.chmod(gif, 0o644)

    # A failed Open says why and shows no picture.
    broken = os.path.join(work, "broken.bmp")
    with open(broken, "wb") as out:
        out.write(open(bmp, "rb").read()[:100])
    text = app.open_file(broken, box=True)
    expect_box(text, "画像のデータが壊れています。", "broken.bmp", "colour table runs past the end of the file")
    expect_colour(app, 20, 40, (128, 128, 128), "the empty view")

    # A name outside code page 932: café.bmp, not cafe.bmp beside it, opens,
    # titled with a stand-in for the é.
    cafe = os.path.join(work, "café.bmp")
    shutil.copy(bmp, cafe)
    with open(os.path.join(work, "cafe.bmp"), "wb") as out:
        out.write(b"not a picture")
    app.open_file(cafe, shown_as="caf?.bmp")
    expect_colour(app, 60, 23 + 84, table[rows[84][60]], "café.bmp's pixel 60,84")

    # A TIM picture opened through the first (bitmap) entry is read as what
    # its bytes say.
    app.open_file(tim)
    colours, tim_rows = read_tim8(open(tim, "rb").read())
    for (px, py) in ((1, 1), (50, 10), (31, 20), (2, 46), (63, 47)):
        expect_colour(app, px, 23 + py, colours[tim_rows[py][px]], "TIM pixel %d,%d" % (px, py))
    log("TIM picture shown the right way up")

    # The magenta picked on the bitmap is not in the TIM picture: the GIF is
    # saved without a transparent colour, and a box says so.
    app.save_file()
    expect_box(app.message_box(), "透過色がこの画像にないため、透過なしで保存しました。", "face.gif")
    face_gif = open(os.path.join(work, "face.gif"), "rb").read()
    if face_gif[784] != 0:
        raise Failure("face.gif marks index %d transparent" % face_gif[787])
    log("face.gif saved without transparency")

    # A 24-bit copy of the bitmap: the mat picked on screen becomes exactly
    # the GIF's transparent pixels, and every other pixel keeps its colour.
    bmp24 = os.path.join(work, "sample24.bmp")
    write_bmp24(bmp24, table, rows)
    app.open_file(bmp24)
    expect_colour(app, 60, 23 + 84, table[rows[84][60]], "24-bit picture pixel 60,84")
    app.click_client(5, 23 + 60)
    expect_colour(app, *swatch, MAGENTA, "the swatch")
    app.menu("s")
    dialog = app.dialog(SAVE_TITLES)
    desktop.focus(dialog)
    desktop.keys("Return")
    app.dialog_gone(dialog)
    gif24 = os.path.join(work, "sample24.gif")
    wait_for("sample24.gif to be complete", lambda: os.path.exists(gif24) and open(gif24, "rb").read()[-1:] == b";")
    check_pixels(gif24, table, rows, MAGENTA)
    log("24-bit picture saved with exactly the magenta mat transparent")

    # A file of no known kind chosen through the last entry is refused; the
    # next Open still starts on the picture shown before it, and Save then
    # proposes that picture's name, not the refused one's.
    refused = open(gif, "rb").read()
    expect_box(app.open_file(gif, entry_keys=("Down",) * 4, box=True), "選んだ種類の画像ではありません。",
               "sample.gif", "")
    app.open_again("sample24.bmp")
    expect_colour(app, 60, 23 + 84, table[rows[84][60]], "sample24.bmp's pixel 60,84")
    os.remove(gif24)  # an overwrite question would keep the dialog open
    app.save_file()
    wait_for("sample24.gif again", lambda: os.path.exists(gif24) and open(gif24, "rb").read()[-1:] == b";")
    if open(gif, "rb").read() != refused:
        raise Failure("the refused file was written over")
    log("a refused Open changed neither the next Open's name nor Save's")

    # An archive opened through its entry; File -> Open, Enter shows its next
    # item, since the dialog starts on the archive and its entry. Save
    # proposes the item's number (the magenta is not in it: saved without).
    pack = os.path.join(work, "pack.xpb")
    pictures = make_archive(open(tim, "rb").read(), pack)
    # The dialog starts on the last entry, chosen for the refused file.
    app.open_file(pack, entry_keys=("Up",), shown_as="pack.xpb 1/3")
    app.open_again("pack.xpb 2/3")
    colours, tim_rows = read_tim8(pictures[1])
    expect_colour(app, 50, 23 + 10, colours[tim_rows[10][50]], "the second item's pixel 50,10")
    app.save_file()
    expect_box(app.message_box(), "透過色がこの画像にないため、透過なしで保存しました。", "pack-002.gif")
    check_pixels(os.path.join(work, "pack-002.gif"), colours, tim_rows, MAGENTA, flag=0)
    log("archive items stepped with Open, Enter; pack-002.gif holds the second")

    # The About box shows the "CBIT" picture from the program's resources.
    about_table, about_rows = read_bmp8(os.path.join(desktop.env["QUOLB_SOURCE_DIR"], "res", "about.bmp"))
    desktop.focus(app.window)
    desktop.keys("alt+h", "v")
    about = app.dialog(ABOUT_TITLES)
    x, y, w, h = desktop.geometry(about)
    corner = about_table[about_rows[0][0]]
    found = wait_for("the About picture", lambda: desktop.grab().find(corner, (x, y, w, h)))
    grab = desktop.grab()
    for (px, py) in ((0, 0), (20, 20), (120, 20), (200, 45), (100, 60)):
        want = about_table[about_rows[py][px]]
        if grab.pixel(found[0] + px, found[1] + py) != want:
            raise Failure("About picture pixel %d,%d is %r, want %r"
                          % (px, py, grab.pixel(found[0] + px, found[1] + py), want))
    desktop.focus(about)
    desktop.keys("Escape")
    app.dialog_gone(about)
    log("About box showed the picture and closed with Escape")

    # Exit through the menu; the process ends with code 0.
    app.menu("e")
    try:
        code = process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end after Exit")
    if code != 0:
        raise Failure("exit code %d" % code)
    log("Exit ended the program with code 0")


def has_virtual_desktop(prefix):
    try:
        text = open(os.path.join(prefix, "user.reg"), encoding="utf-8", errors="replace").read()
    except OSError:
        return False
    return '"Desktop"="Default"' in text and '"Default"="%dx%d"' % SCREEN in text


def set_virtual_desktop(env):
    """Makes every program of the prefix run in a virtual desktop, so Wine
    draws the window frame and menu bar itself (Xvfb has no window manager).
    The first use of a prefix also creates it, which takes a while."""
    for key, value, data in (("Software\\Wine\\Explorer", "Desktop", "Default"),
                             ("Software\\Wine\\Explorer\\Desktops", "Default", "%dx%d" % SCREEN)):
        subprocess.run([env["QUOLB_WINE_RUN"], "reg", "add", "HKCU\\" + key, "/v", value, "/d", data,
                        "/f"], env=env, capture_output=True, timeout=180, check=True)
    # The desktop is chosen when the prefix's server starts: start afresh.
    subprocess.run(["wineserver", "-k"], env=env, capture_output=True)


def add_caption_font(prefix):
    """Wine draws the caption buttons with its Marlett font; some packagings
    install it where a fresh prefix does not look, and the buttons then show
    letters. Copying it into the prefix's font folder mends the screenshot."""
    source = "/usr/share/wine/fonts/marlett.ttf"
    target = os.path.join(prefix, "drive_c", "windows", "Fonts", "marlett.ttf")
    if os.path.exists(source) and os.path.isdir(os.path.dirname(target)) and not os.path.exists(target):
        shutil.copy(source, target)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("source_dir")
    parser.add_argument("--screenshot")
    parser.add_argument("--box-reader", required=True, help="e2e_box_text.exe")
    args = parser.parse_args()

    for tool in ("Xvfb", "xdotool", "xwininfo", "import", "convert", "wine"):
        if not shutil.which(tool):
            print("skipping: %s is not installed" % tool)
            # CI installs every tool, so a skip there is a failure.
            return 1 if os.environ.get("CI") == "true" else 77

    env = dict(os.environ)
    env["WINEPREFIX"] = env.get("QUOLB_E2E_WINEPREFIX",
                                os.path.join(os.path.expanduser("~"), ".cache", "quolb-wine-e2e"))
    env["QUOLB_SOURCE_DIR"] = os.path.abspath(args.source_dir)
    env["QUOLB_WINE_RUN"] = os.path.join(env["QUOLB_SOURCE_DIR"], "cmake", "wine-run")
    env["QUOLB_BOX_READER"] = os.path.abspath(args.box_reader)
    env["WINEDEBUG"] = "-all"
    xvfb, env["DISPLAY"] = start_xvfb(env)
    desktop = Desktop(env)
    # Only letters, digits and a dash in the folder's name: every path the
    # test puts into a dialog starts with it.
    work = os.path.join(tempfile.gettempdir(), "quolb-e2e-%d" % os.getpid())
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    screenshot = os.path.abspath(args.screenshot) if args.screenshot else None
    try:
        shutil.copy(os.path.join(args.source_dir, "samples", "sample.bmp"), work)
        shutil.copy(os.path.join(args.source_dir, "samples", "sample.tim"), os.path.join(work, "face.tim"))
        # A prefix of our own; no server left from a run on another display.
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if not has_virtual_desktop(env["WINEPREFIX"]):
            set_virtual_desktop(env)
        add_caption_font(env["WINEPREFIX"])
        log("prefix %s ready on display %s" % (env["WINEPREFIX"], env["DISPLAY"]))
        session(desktop, os.path.abspath(args.exe), work, screenshot)
    except (Failure, subprocess.SubprocessError, OSError) as failure:
        shot = os.path.abspath("e2e-failure.png")
        try:
            desktop.save_png(shot)
        except Exception:
            shot = "(no screenshot)"
        print("FAILED: %s; screen saved as %s" % (failure, shot), flush=True)
        return 1
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        xvfb.terminate()
        xvfb.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)
    log("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
