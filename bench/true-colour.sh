#!/usr/bin/env bash
# A 4096 x 4096 24-bit photo-like bitmap (skimage's astronaut scaled up, with
# +-6 of noise per channel so nearly every pixel differs from its neighbours)
# converted by the whole converter, side by side with ImageMagick's convert in
# one hyperfine run; then the converter's peak resident size (/usr/bin/time -v)
# against the picture's DIB.
# Usage: bench/true-colour.sh [WORKDIR]   (default: $TMPDIR or /tmp)
# Needs hyperfine, ImageMagick, python3-skimage, python3-pil.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-${TMPDIR:-/tmp}}/quolb-true-colour
mkdir -p "$work"

cmake -S "$root" -B "$root/build/whole-process" -DCMAKE_BUILD_TYPE=Release -DQUOLB_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/whole-process" --target quolb-gif -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
exe=$root/build/whole-process/cli/quolb-gif

cd "$work"
[ -f photo.bmp ] || /usr/bin/python3 - <<'PY'
import numpy as np
from PIL import Image
from skimage import data
big = np.asarray(Image.fromarray(data.astronaut()).resize((4096, 4096), Image.BICUBIC)).astype(np.int16)
noisy = big + np.random.default_rng(1).integers(-6, 7, big.shape)
Image.fromarray(np.clip(noisy, 0, 255).astype(np.uint8)).save("photo.bmp")
PY
echo "photo.bmp: $(stat -c %s photo.bmp) bytes, in $work"

hyperfine -N --warmup 1 --runs "${RUNS:-5}" \
    "$exe -q photo.bmp -o ours.gif" \
    "convert photo.bmp theirs.gif"

dib=$((40 + 4096 * 4096 * 3))
peak=$(/usr/bin/time -v "$exe" -q photo.bmp -o ours.gif 2>&1 | awk '/Maximum resident/ {print $6}')
limit=$((dib / 1024 + 24 * 1024))
echo "peak resident: $peak KiB; DIB $((dib / 1024)) KiB + 24 MiB = $limit KiB"
[ "$peak" -le "$limit" ]
