#!/bin/sh
# Prints the Markdown table of docs/formats.md: every file of the bitmap test
# suite (g/ good, q/ questionable, b/ bad) run through the built converter,
# with what came out and, for a refusal, the converter's reason.
#   scripts/formats-table.sh [converter] [suite folder]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
converter=${1:-$root/build/default/cli/quolb-gif}
suite=${2:-$root/../shared/corpora/bmpsuite}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "| File | Outcome | Reason or picture |"
echo "|---|---|---|"
for folder in g q b; do
    for file in "$suite/$folder"/*.bmp; do
        name="$folder/$(basename "$file")"
        if timeout 20 "$converter" -q -o "$work/out.gif" "$file" 2>"$work/err"; then
            facts=$("$converter" --info "$file" |
                sed -n 's/.*"width": \([0-9]*\), "height": \([0-9]*\), "bitCount": \([0-9]*\).*/\1 x \2, \3-bit/p')
            echo "| $name | converted | $facts |"
        else
            reason=$(sed 's/^quolb-gif: [^:]*: //' "$work/err" | head -n 1)
            echo "| $name | refused | $reason |"
        fi
    done
done
