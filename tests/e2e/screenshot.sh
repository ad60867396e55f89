#!/bin/sh
# Remakes docs/screenshot.png: the end-to-end run, which starts with a picture
# larger than the window, scrolls to its bottom-right corner and picks it,
# photographs the window at that point.
# Usage: tests/e2e/screenshot.sh path/to/QuolbGif.exe [path/to/e2e_box_text.exe]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
exe=${1:?path to QuolbGif.exe}
reader=${2:-$(dirname "$exe")/../tests/e2e_box_text.exe}
exec python3 "$here/run_e2e.py" "$exe" "$root" --box-reader "$reader" --screenshot "$root/docs/screenshot.png"
