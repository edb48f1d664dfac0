#!/usr/bin/env bash
# Whole-process instruction counts under valgrind --tool=callgrind: one full
# 256-tile conversion beside /bin/true, as a ratio, and the share of the
# conversion spent in pack_charset, per pixel. Counts are what the program
# executes, start-up and exit included, so they do not depend on the load of
# the machine.
#
#   bench/instructions.sh [--max-ratio=R] [PROGRAM [TILESET]]
#
# PROGRAM defaults to build/release/glyphor (cmake --workflow --preset sample)
# and TILESET to examples/tileset.bmp. With --max-ratio the status is 1 when
# the conversion costs more than R times /bin/true.
set -euo pipefail
cd "$(dirname "$0")/.."

max_ratio=
if [[ "${1:-}" == --max-ratio=* ]]; then
    max_ratio=${1#--max-ratio=}
    shift
fi
program=${1:-build/release/glyphor}
tileset=${2:-examples/tileset.bmp}
[ -x "$program" ] || { echo "no program at $program: build it first" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# instructions NAME COMMAND...: runs COMMAND under callgrind, prints its total.
instructions() {
    local name=$1
    shift
    valgrind --tool=callgrind --callgrind-out-file="$work/$name.out" "$@" \
        >"$work/$name.stdout" 2>"$work/$name.log" || {
        cat "$work/$name.stdout" "$work/$name.log" >&2
        return 1
    }
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/$name.log"
}

true_count=$(instructions true /bin/true)
conversion=$(instructions conversion "$program" "$tileset" "$work/charset.bin")
if [ "$(stat -c %s "$work/charset.bin")" -ne 2048 ]; then
    echo "the conversion did not write a 2048-byte charset" >&2
    exit 1
fi
# pack_charset with everything it calls (its 2 KiB calloc included).
packing=$(callgrind_annotate --inclusive=yes "$work/conversion.out" |
    sed -n 's/^ *\([0-9,]*\) .*glyphor::pack_charset(.*/\1/p' | head -n 1 | tr -d ,)

awk -v conversion="$conversion" -v true_count="$true_count" -v packing="${packing:-0}" \
    -v program="$program" 'BEGIN {
    printf "conversion (%s, 256 tiles): %d instructions\n", program, conversion
    printf "/bin/true:                  %d instructions\n", true_count
    printf "ratio:                      %.2f\n", conversion / true_count
    if (packing > 0)
        printf "pack_charset:               %d instructions, %.2f a pixel\n", packing, packing / 16384
    else
        print "pack_charset:               not found (no symbols?)"
}'

if [ -n "$max_ratio" ] &&
    ! awk -v c="$conversion" -v t="$true_count" -v m="$max_ratio" 'BEGIN { exit !(c <= m * t) }'; then
    echo "the conversion costs more than $max_ratio times /bin/true" >&2
    exit 1
fi
