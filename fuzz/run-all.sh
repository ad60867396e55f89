#!/bin/sh
# Builds the fuzz preset and runs every fuzz target for SECONDS each
# (default 60). Runs start from the committed seeds in fuzz/corpus/<target>
# and grow a working corpus under build/fuzz/corpus/<target>, so the seeds
# stay as committed. A crash leaves its input in build/fuzz/artifacts/;
# copy it into fuzz/regressions/<target>/ so the tests keep it.
#   fuzz/run-all.sh 600        ten minutes per target
#   FUZZ_JOBS=2 fuzz/run-all.sh 3600   two workers each, an hour per target
set -eu
seconds=${1:-60}
jobs=${FUZZ_JOBS:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
targets="fuzz_bitmap fuzz_tim fuzz_container fuzz_archive fuzz_lzw"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target $targets -j2

# Parallel runs write their logs as fuzz-<n>.log in the current folder.
parallel=""
[ "$jobs" -gt 1 ] && parallel="-jobs=$jobs -workers=$jobs"

mkdir -p "$build/artifacts"
cd "$build"
status=0
for target in $targets; do
    work="$build/corpus/$target"
    mkdir -p "$work"
    echo "== $target: $seconds s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -max_len=65536 \
            $parallel -print_final_stats=1 \
            -artifact_prefix="$build/artifacts/$target-" \
            "$work" $(ls -d "$root/fuzz/corpus/$target" "$root/fuzz/regressions/$target" 2>/dev/null) \
            >"$build/$target.log" 2>&1; then
        echo "$target FAILED: see $build/$target.log and $build/artifacts/"
        status=1
    fi
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs|SUMMARY" "$build/$target.log" || true
done
exit $status
