#!/usr/bin/env bash
# Builds the release preset and runs every benchmark: each Google Benchmark
# program in build/release/bench, the converter's --all over make_archive's
# archive, and bench/whole-process.sh; under Wine, where the mingw preset
# has built them, the same for the Windows converter and the window's memory
# (bench/window-memory.py).
#   bench/run-all.sh           the full runs docs/performance.md records
#   bench/run-all.sh --quick   a short run of each, so CI sees none has rotted
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
quick=0
[ "${1:-}" = --quick ] && quick=1

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
build=$root/build/release
work=$(mktemp -d "${TMPDIR:-/tmp}/quolb-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

options=()
[ $quick -eq 1 ] && options=(--benchmark_min_time=0.01)
for program in "$build"/bench/bench_*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" "${options[@]}"
done

items=1000
[ $quick -eq 1 ] && items=20
echo "== quolb-gif -q --all over make_archive's $items items"
"$build/bench/make_archive" "$work/pack.xpb" "$items"
mkdir -p "$work/all"
hyperfine -N --warmup 1 --runs "$([ $quick -eq 1 ] && echo 3 || echo 20)" \
  "$build/cli/quolb-gif -q --all -o $work/all/pack.gif $work/pack.xpb"
ls "$work/all" | wc -l | xargs echo "GIFs written:"

echo "== whole process against cp"
QUOLB_GIF="$build/cli/quolb-gif" bash "$root/bench/whole-process.sh" $([ $quick -eq 1 ] && echo --quick) "$work"

# The Windows build, where the mingw preset has built it and Wine runs it.
if [ -f "$root/build/mingw/cli/quolb-gif.exe" ] && command -v wine >/dev/null; then
  echo "== whole process under Wine against the system's copy"
  bash "$root/bench/whole-process.sh" --wine $([ $quick -eq 1 ] && echo --quick) "$work"
fi
if [ -f "$root/build/mingw/app/QuolbGif.exe" ] && command -v wine >/dev/null; then
  echo "== the window's memory under Wine"
  python3 "$root/bench/window-memory.py" $([ $quick -eq 1 ] && echo --quick)
fi
