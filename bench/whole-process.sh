#!/usr/bin/env bash
# The whole converter on a big bitmap against copying the same file:
#   time:   quolb-gif big.bmp -o big.gif  vs  cp big.bmp copy.bmp, side by
#           side in one hyperfine run; the converter may take at most 2x the
#           copy replacing the files of the previous run, 1.5x writing new ones.
#   memory: peak resident size converting it (/usr/bin/time -v) at most
#           12 MiB: the converter never holds the whole picture.
#   floor:  with new outputs, read_write.cpp in the same run: the
#           converter's reads, writes and rename without the packing, all in
#           one thread (the converter writes on a second one while it packs,
#           so it may come in below this).
# Usage: bench/whole-process.sh [--quick] [--wine] [WORKDIR]   (default: $TMPDIR or /tmp)
# Builds an optimised converter of its own in build/whole-process, unless
# QUOLB_GIF names one. --quick (for CI: does the road still work?) converts a
# 256 x 256 bitmap a few times and reports without judging the figures.
# --wine times the Windows build (build/mingw/cli/quolb-gif.exe, or
# QUOLB_GIF) under Wine against the system's own file copy (copy_file.cpp)
# there, and reports without judging: Wine's start and exit, which both
# pay, are shown apart, and so is the converter's memory beyond Wine's own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0 wine=0
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --wine) wine=1 ;;
    *) break ;;
  esac
  shift
done
work=${1:-${TMPDIR:-/tmp}}/quolb-whole-process
mkdir -p "$work"

exe=${QUOLB_GIF:-}
if [ $wine -eq 1 ]; then
  exe=${exe:-$root/build/mingw/cli/quolb-gif.exe}
  [ -f "$exe" ] || { echo "no $exe: cmake --preset mingw && cmake --build --preset mingw" >&2; exit 1; }
  x86_64-w64-mingw32-g++ -O2 -static -o "$work/copy_file.exe" "$root/bench/copy_file.cpp"
  run="$root/cmake/wine-run"
  convert="$run $exe -q big.bmp -o big.gif"
  copy="$run $work/copy_file.exe big.bmp copy.bmp"
  start="$run $work/copy_file.exe"
elif [ -z "$exe" ]; then
  cmake -S "$root" -B "$root/build/whole-process" -DCMAKE_BUILD_TYPE=Release -DQUOLB_BUILD_TESTS=OFF >/dev/null
  cmake --build "$root/build/whole-process" --target quolb-gif -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
  exe=$root/build/whole-process/cli/quolb-gif
fi
if [ $wine -eq 0 ]; then
  convert="$exe -q big.bmp -o big.gif"
  copy="cp big.bmp copy.bmp"
  c++ -O2 -std=c++20 -static -o "$work/read_write" "$root/bench/read_write.cpp"
  floor="$work/read_write big.bmp floor.gif"
fi
side=4096 runs=30 warmup=3
[ $quick -eq 1 ] && side=256 runs=3 warmup=1

python3 "$root/bench/make_bitmap.py" "$work/big.bmp" "$side"
cd "$work"
echo "big.bmp: $(stat -c %s big.bmp) bytes, in $work"

# Twice: replacing the files the previous run left (what a user repeating a
# command sees; the converter replaces its GIF through a new file and a
# rename), and writing new files each time.
status=0
compare() {
  local label=$1 limit=$2; shift 2
  if [ $wine -eq 1 ]; then
    hyperfine -N --warmup "$warmup" --runs "$runs" --export-json times.json "$@" "$convert" "$copy" "$start"
    python3 -c '
import json
r = [x["mean"] for x in json.load(open("times.json"))["results"]]
print("converter / copy under Wine, %s: %.2fx; without Wine'"'"'s start and exit (%.1f ms): %.2fx"
      % ("'"$label"'", r[0] / r[1], 1000 * r[2], (r[0] - r[2]) / (r[1] - r[2])))'
    return 0
  fi
  hyperfine -N --warmup "$warmup" --runs "$runs" --export-json times.json "$@" "$convert" "$copy" ${with_floor:+"$floor"}
  local ratio
  ratio=$(python3 -c '
import json
r = json.load(open("times.json"))["results"]
print("%.2f" % (r[0]["mean"] / r[1]["mean"]))')
  echo "converter / copy, $label: ${ratio}x (at most ${limit}x)"
  if [ -n "${with_floor:-}" ]; then
    python3 -c '
import json
r = json.load(open("times.json"))["results"]
print("reads and writes alone / copy, '"$label"': %.2fx" % (r[2]["mean"] / r[1]["mean"]))'
  fi
  [ $quick -eq 1 ] && return 0
  python3 -c "import sys; sys.exit(0 if $ratio <= $limit else 1)" || { echo "FAIL: slower than ${limit}x the copy"; status=1; }
}
compare "replacing the outputs" 2.0
with_floor=1 compare "new outputs" 1.5 --prepare "rm -f big.gif copy.bmp floor.gif"

limit_kib=$((12 * 1024))
peak() {
  # shellcheck disable=SC2086  # the commands are words on purpose
  /usr/bin/time -v $1 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
if [ $wine -eq 1 ]; then
  peak_kib=$(peak "$convert") base_kib=$(peak "$start")
  echo "peak resident size under Wine: ${peak_kib} KiB, of which Wine's own ${base_kib} KiB: the converter $((peak_kib - base_kib)) KiB"
  exit 0
fi
peak_kib=$(peak "$convert")
echo "peak resident size: ${peak_kib} KiB (${limit_kib} KiB at most)"

[ $quick -eq 1 ] && exit 0
[ "$peak_kib" -le "$limit_kib" ] || { echo "FAIL: peak memory over 12 MiB"; status=1; }
[ $status -eq 0 ] && echo "whole process: within both limits"
exit $status
