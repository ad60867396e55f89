#!/usr/bin/env bash
# Installs what is missing, builds the converter and turns the bundled
# sample bitmap into a GIF. With a display it also builds the desktop tool
# and opens its window through Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup-debian.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quolb-gif -j "$(nproc 2>/dev/null || echo 2)"

out=build/sample
mkdir -p "$out"
build/default/cli/quolb-gif --info samples/sample.bmp
build/default/cli/quolb-gif -o "$out/sample.gif" samples/sample.bmp
echo
echo "The GIF went to: $(pwd)/$out/sample.gif"

if [ -z "${DISPLAY:-}" ]; then
  echo "No display here, so the desktop tool was not opened. On a machine with"
  echo "a display, run this script again to open its window, or by hand:"
  echo "  cmake --preset mingw && cmake --build --preset mingw --target QuolbGif"
  echo "  cmake/wine-run build/mingw/app/QuolbGif.exe"
  exit 0
fi

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target QuolbGif -j "$(nproc 2>/dev/null || echo 2)"
echo "Opening the desktop tool; open $(pwd)/samples/sample.bmp from its File menu."
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec cmake/wine-run build/mingw/app/QuolbGif.exe
