#!/usr/bin/env python3
"""The desktop tool's memory under Wine, for a 4096 x 4096 8-bit bitmap: how
much the window holds beyond the picture's DIB, loaded and while saving it.
The limit is the DIB plus 4 MiB.

    bench/window-memory.py [--quick] [QuolbGif.exe]   (default: build/mingw/app/QuolbGif.exe)

Drives the window through the end-to-end test's helpers (its own X server,
its Wine prefix, real key presses) and reads the Windows process's peak
resident size (VmHWM) after each step. Wine's own libraries and the system's
file dialog are not the window's: the idle window, after the same dialog was
opened and closed, is subtracted from each figure. --quick (for CI: does the
road still work?) uses a 256 x 256 bitmap and judges nothing.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import run_e2e as e2e  # noqa: E402  (the path is set just above)
from make_bitmap import write_bitmap  # noqa: E402  (beside this script)

LIMIT_KIB = 4096


def peak_kib(exe):
    """VmHWM of the newest process running the program, once it settles."""
    pid = subprocess.run(["pgrep", "-n", "-f", os.path.basename(exe)], capture_output=True,
                         text=True).stdout.strip()
    if not pid:
        raise e2e.Failure("no process runs " + exe)
    time.sleep(1)  # the step's last pages
    with open("/proc/%s/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise e2e.Failure("no VmHWM for process " + pid)


def open_and_close_dialog(app):
    """The system's file dialog, opened and closed: its memory stays with the
    process, so both runs pay it before they are compared."""
    app.menu("o")
    dialog = app.dialog(e2e.OPEN_TITLES)
    app.desktop.focus(dialog)
    app.desktop.keys("Escape")
    app.dialog_gone(dialog)


def run(desktop, exe, work, arguments):
    process = subprocess.Popen([desktop.env["QUOLB_WINE_RUN"], exe] + arguments, cwd=work, env=desktop.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return e2e.App(desktop, process)


def measure(desktop, exe, work, side):
    dib = write_bitmap(os.path.join(work, "big.bmp"), side)
    app = run(desktop, exe, work, [])
    idle = peak_kib(exe)
    open_and_close_dialog(app)
    idle_dialog = peak_kib(exe)
    app.process.kill()
    app.process.wait(timeout=60)

    app = run(desktop, exe, work, ["big.bmp"])
    app.wait_title("big.bmp")
    loaded = peak_kib(exe)
    open_and_close_dialog(app)
    app.save_file()
    gif = os.path.join(work, "big.gif")
    e2e.wait_for("big.gif to be complete", lambda: os.path.exists(gif) and open(gif, "rb").read()[-1:] == b";")
    saved = peak_kib(exe)
    app.process.kill()

    dib_kib = dib // 1024
    print("idle window: %d KiB, %d KiB after the file dialog" % (idle, idle_dialog))
    print("%d x %d picture (DIB %d KiB) loaded: %d KiB, %d KiB beyond the DIB"
          % (side, side, dib_kib, loaded, loaded - idle - dib_kib))
    over = saved - idle_dialog - dib_kib
    print("after the file dialog and saving it: %d KiB, %d KiB beyond the DIB (at most %d)"
          % (saved, over, LIMIT_KIB))
    return over


def main():
    args = sys.argv[1:]
    quick = "--quick" in args
    args = [a for a in args if a != "--quick"]
    exe = os.path.abspath(args[0] if args else os.path.join(ROOT, "build", "mingw", "app", "QuolbGif.exe"))
    for tool in ("Xvfb", "xdotool", "wine", "pgrep"):
        if not shutil.which(tool):
            print("window-memory: %s is not installed" % tool)
            return 1
    if not os.path.exists(exe):
        print("window-memory: no %s: cmake --preset mingw && cmake --build --preset mingw" % exe)
        return 1

    env = dict(os.environ)
    env["WINEPREFIX"] = env.get("QUOLB_E2E_WINEPREFIX",
                                os.path.join(os.path.expanduser("~"), ".cache", "quolb-wine-e2e"))
    env["QUOLB_WINE_RUN"] = os.path.join(ROOT, "cmake", "wine-run")
    env["WINEDEBUG"] = "-all"
    xvfb, env["DISPLAY"] = e2e.start_xvfb(env)
    work = tempfile.mkdtemp(prefix="quolb-window-memory-")
    try:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if not e2e.has_virtual_desktop(env["WINEPREFIX"]):
            e2e.set_virtual_desktop(env)
        over = measure(e2e.Desktop(env), exe, work, 256 if quick else 4096)
    except (e2e.Failure, subprocess.SubprocessError, OSError) as failure:
        print("window-memory: %s" % failure)
        return 1
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        xvfb.kill()
        shutil.rmtree(work, ignore_errors=True)
    if not quick and over > LIMIT_KIB:
        print("FAIL: the window holds more than the DIB plus 4 MiB")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
