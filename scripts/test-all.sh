#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the native
# build, the same under AddressSanitizer + UndefinedBehaviorSanitizer, the
# Windows build under Wine, each fuzzer for a while (60 s by default;
# FUZZ_SECONDS=600 ./scripts/test-all.sh fuzzes longer) and a short run of
# every benchmark, so none of them can rot. Exits non-zero when
# anything failed; the summary at the end says what.
set -uo pipefail
cd "$(dirname "$0")/.."

./scripts/setup-debian.sh || { echo "test-all.sh: installing the tools failed" >&2; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${FUZZ_SECONDS:-60}
summary=()
failed=0

# Runs one named step, timing it and noting the outcome for the summary.
step() {
  local name=$1; shift
  local start=$SECONDS
  echo
  echo "==> $name"
  if "$@"; then
    summary+=("$(printf 'ok    %4ss  %s' $((SECONDS - start)) "$name")")
  else
    summary+=("$(printf 'FAIL  %4ss  %s' $((SECONDS - start)) "$name")")
    failed=1
  fi
}

# Configures, builds and tests one preset; tests that skipped are named in
# the summary, so a skip never reads as a pass.
skipped=()
preset() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs" || return 1
  local log="build/$1/ctest-output.log" status
  ctest --preset "$1" -j "$jobs" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  while read -r line; do skipped+=("$1: $line"); done < <(grep -E '\(Skipped\)|^skipped: ' "$log" || true)
  return "$status"
}

# The desktop tool's tests need a display: start a private X server when
# there is none, and stop it when this script ends.
xvfb_pid=
cleanup() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; fi; }
trap cleanup EXIT
ensure_display() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n=99
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  export DISPLAY=":$n"
  echo "started Xvfb on $DISPLAY"
}

# A new Wine prefix would offer to install its .NET and HTML engines in a
# dialog and wait for an answer; the tests need neither.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

step "native build and tests (preset default)" preset default
step "sanitizer build and tests (preset asan)" preset asan
ensure_display
step "Windows build and tests under Wine (preset mingw)" preset mingw
step "fuzzers, ${fuzz_seconds} s each (fuzz/run-all.sh)" bash fuzz/run-all.sh "$fuzz_seconds"
step "benchmarks, a short run of each (bench/run-all.sh --quick)" bash bench/run-all.sh --quick

echo
echo "==> summary"
printf '%s\n' "${summary[@]}"
if [ ${#skipped[@]} -gt 0 ]; then
  echo "skipped:"
  printf '  %s\n' "${skipped[@]}"
fi
if [ "$failed" -ne 0 ]; then
  echo "test-all.sh: some steps FAILED (see above)"
  exit 1
fi
echo "test-all.sh: everything passed"
