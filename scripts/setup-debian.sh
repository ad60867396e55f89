#!/usr/bin/env bash
# Installs what building, testing, fuzzing and benchmarking need on Debian
# (run as root, or with sudo on the path). Quick when everything is there:
# apt is only asked for packages that are missing.
set -euo pipefail

packages=(
  cmake make g++ git python3 time          # native build and the scripts
  googletest libgtest-dev libbenchmark-dev # tests and benchmarks
  libcli11-dev                             # the converter's argument parser
  libgif-dev imagemagick                   # independent judges in the tests
  g++-mingw-w64-x86-64-posix mingw-w64     # the Windows build
  wine wine64                              # runs the Windows build's tests
  xvfb xdotool x11-utils fonts-wine        # a display for the desktop tool's tests
  locales fonts-ipafont-gothic             # its Japanese texts
  clang libclang-rt-14-dev                 # the fuzzers
  hyperfine                                # whole-process timing
  gifsicle python3-pil bc                  # bench/lzw-sizes.sh: a peer and a second decoder
  pngquant python3-numpy python3-skimage   # colour quality side by side (bench/quality.py)
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else echo "setup-debian.sh: needs root to install: $*" >&2; exit 1
  fi
}

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "==> installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root apt-get update
  as_root apt-get install -y "${missing[@]}"
fi

# The Windows build's tests run with the Japanese code page, which Wine
# takes from a ja_JP.UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "==> generating the ja_JP.UTF-8 locale"
  if grep -q '^# *ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
    as_root sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  elif ! grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen
fi
