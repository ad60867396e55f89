#!/bin/sh
# Compressed sizes of the bench_lzw pictures: ours, giflib's EGifPutLine and
# gifsicle -O1 (which re-encodes giflib's file), with ours against each.
# Pillow decodes our file and giflib's, which must give the same indices
# (bench_lzw --write has already checked ours against the picture with
# giflib's decoder). Pillow is Debian's python3-pil, hence /usr/bin/python3.
#   bench/lzw-sizes.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset release >/dev/null
cmake --build --preset release --target bench_lzw -j2 >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
build/release/bench/bench_lzw --write "$dir"

printf '%-16s %12s %12s %12s %9s %9s\n' picture ours giflib "gifsicle" "/giflib" "/gifsicle"
status=0
for ours in "$dir"/*-ours.gif; do
    name=$(basename "$ours" -ours.gif)
    giflib="$dir/$name-giflib.gif"
    gifsicle -O1 "$giflib" -o "$dir/$name-gifsicle.gif"
    a=$(stat -c %s "$ours") b=$(stat -c %s "$giflib") c=$(stat -c %s "$dir/$name-gifsicle.gif")
    printf '%-16s %12d %12d %12d %8.2f%% %8.2f%%\n' "$name" "$a" "$b" "$c" \
        "$(echo "100 * $a / $b" | bc -l)" "$(echo "100 * $a / $c" | bc -l)"
    /usr/bin/python3 -c '
import sys
from PIL import Image
ours, theirs = (Image.open(p) for p in sys.argv[1:])
sys.exit(0 if ours.size == theirs.size and ours.tobytes() == theirs.tobytes() else 1)
' "$ours" "$giflib" || { echo "$name: Pillow decodes ours differently"; status=1; }
done
exit $status
