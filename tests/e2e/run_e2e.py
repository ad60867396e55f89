#!/usr/bin/env python3
"""Drives QuolbGif.exe under Wine the way a user would, through real key
presses and mouse clicks on an X server of its own, and checks what the
user would see and the file the program writes.

    run_e2e.py QuolbGif.exe SOURCE_DIR [--screenshot docs/screenshot.png]

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

    def type(self, text):
        self.run("xdotool", "type", "--delay", "25", text)

    def click(self, x, y):
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


def read_tim8(path):
    """Colours (widened to 8 bits) and top-down rows of an 8-bit TIM picture."""
    data = open(path, "rb").read()
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


def write_bmp24(path, table, rows):
    """The same picture as a 24-bit bitmap, bottom row first."""
    width, height = len(rows[0]), len(rows)
    stride = (3 * width + 3) & ~3
    pixels = b"".join(bytes(v for i in row for v in table[i][::-1]).ljust(stride, b"\0") for row in rows[::-1])
    header = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + len(pixels), 0, 0, 54, 40, width, height, 1, 24, 0,
                         len(pixels), 2835, 2835, 0, 0)
    open(path, "wb").write(header + pixels)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check_gif(gif, bmp, picked):
    table, rows = read_bmp8(bmp)
    width, height = len(rows[0]), len(rows)
    data = open(gif, "rb").read()
    if data[:6] != b"GIF89a":
        raise Failure("saved file is not a GIF89a file")
    want = table.index(picked)
    if data[784] != 1:
        raise Failure("transparent flag at byte 784 is %d, want 1" % data[784])
    if data[787] != want:
        raise Failure("transparent index at byte 787 is %d, want %d" % (data[787], want))
    n = width * height
    codes = n + (n - 1) // 253 + 1
    b = (9 * codes + 7) // 8
    if len(data) != 802 + b + (b + 254) // 255:
        raise Failure("GIF is %d bytes, want %d" % (len(data), 802 + b + (b + 254) // 255))
    check_pixels(gif, table, rows, picked)
    log("GIF checked: flag 1, index %d, %d bytes, %d x %d decoded" % (want, len(data), width, height))


def check_pixels(gif, table, rows, picked):
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
            if colour == picked and seen[1] != 0:
                raise Failure("pixel %d,%d should be transparent" % (x, y))
            if colour != picked and seen != (colour, 255):
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
        """Puts a name into the dialog's file name box, replacing what it held."""
        self.desktop.focus(dialog)
        self.desktop.keys("alt+n", "End", "shift+Home", "BackSpace")
        self.desktop.type(path)

    def open_file(self, path, filter_steps=0):
        before = self.title()
        self.menu("o")
        dialog = self.dialog(OPEN_TITLES)
        if filter_steps:
            self.desktop.focus(dialog)
            self.desktop.keys("alt+t", *(["Down"] * filter_steps))
        self.type_file_name(dialog, windows_path(path))
        self.desktop.keys("Return")
        self.dialog_gone(dialog)
        want = "[%s]" % os.path.basename(path)
        title = wait_for("the title to name " + want,
                         lambda: self.title() if want in self.title() else None)
        if not title.startswith("Quolb～GIF   ["):
            raise Failure("title reads %r" % title)
        log("opened %s; title %r (was %r)" % (os.path.basename(path), title, before))


def first(items):
    return items[0] if items else None


def expect_colour(app, cx, cy, colour, what):
    seen = wait_for("%s to show %r" % (what, colour),
                    lambda: app.screen_colour(cx, cy) == colour and colour, timeout=10)
    return seen


def session(desktop, exe, work, screenshot):
    bmp = os.path.join(work, "sample.bmp")
    tim = os.path.join(work, "sample.tim")
    gif = os.path.join(work, "sample.gif")
    table, rows = read_bmp8(bmp)

    process = subprocess.Popen([desktop.env["QUOLB_WINE_RUN"], exe], cwd=work, env=desktop.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = App(desktop, process)
    log("main window %d: %r" % (app.window, app.title()))
    if app.title() != "Quolb～GIF":
        raise Failure("first title reads %r" % app.title())

    # Open the sample bitmap through the open dialog.
    app.open_file(bmp)
    app.locate_client(table[rows[0][0]])

    # The picture is shown the right way up in its own colours.
    for (px, py) in ((0, 0), (60, 84), (150, 36), (100, 119), (199, 119)):
        expect_colour(app, px, 23 + py, table[rows[py][px]], "picture pixel %d,%d" % (px, py))

    # Transparent mode off: a click on the picture picks nothing.
    swatch = (200, 10)
    empty = app.screen_colour(*swatch)
    app.click_client(53, 23 + 90)
    time.sleep(0.3)  # give a wrongly enabled picker the chance to paint
    if app.screen_colour(*swatch) != empty:
        raise Failure("the picker reacted while transparent mode was off")

    # Switch transparent mode on with the check box, then pick two colours.
    app.click_client(10, 11)
    red = table[rows[90][53]]
    app.click_client(53, 23 + 90)
    expect_colour(app, *swatch, red, "the swatch")
    log("picked %r from the house" % (red,))
    app.click_client(5, 23 + 60)
    expect_colour(app, *swatch, MAGENTA, "the swatch")
    expect_colour(app, 192, 2, MAGENTA, "the swatch's top-left")
    expect_colour(app, 210, 20, MAGENTA, "the swatch's bottom-right")
    log("picked magenta from the mat")
    if screenshot:
        x, y, w, h = app.frame()
        desktop.save_png(screenshot, (x, y, w, h))
        log("screenshot written to " + screenshot)

    # Save: the dialog proposes the path without its extension; Enter takes it.
    app.menu("s")
    dialog = app.dialog(SAVE_TITLES)
    desktop.focus(dialog)
    desktop.keys("Return")
    app.dialog_gone(dialog)
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

    # Open the TIM picture through the second filter entry.
    app.open_file(tim, filter_steps=1)
    colours, tim_rows = read_tim8(tim)
    for (px, py) in ((1, 1), (50, 10), (31, 20), (2, 46), (63, 47)):
        expect_colour(app, px, 23 + py, colours[tim_rows[py][px]], "TIM pixel %d,%d" % (px, py))
    log("TIM picture shown the right way up")

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
    desktop.keys("Return")
    app.dialog_gone(about)
    log("About box showed the picture and closed with OK")

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
    env["WINEDEBUG"] = "-all"
    xvfb, env["DISPLAY"] = start_xvfb(env)
    desktop = Desktop(env)
    work = tempfile.mkdtemp(prefix="quolb-e2e-")
    screenshot = os.path.abspath(args.screenshot) if args.screenshot else None
    try:
        for name in ("sample.bmp", "sample.tim"):
            shutil.copy(os.path.join(args.source_dir, "samples", name), work)
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
