#!/bin/sh
# Remakes docs/screenshot.png: the end-to-end run, which opens the sample,
# switches transparent mode on and picks the magenta mat, photographs the
# window at that point. Usage: tests/e2e/screenshot.sh path/to/QuolbGif.exe
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
exec python3 "$here/run_e2e.py" "${1:?path to QuolbGif.exe}" "$root" --screenshot "$root/docs/screenshot.png"
