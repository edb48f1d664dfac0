#!/usr/bin/env bash
# Whole-process instruction counts under valgrind --tool=callgrind: one full
# 256-tile conversion beside /bin/true, as a ratio, and the share of the
# conversion spent in pack_charset, per pixel; then the same conversion by
# this tree's program linked dynamically (built in build/release-dynamic), and
# what its dynamic loading costs. Counts are what the program
# executes, start-up and exit included, so they do not depend on the load of
# the machine. The ratio moves with the C library's start-up; the packer's own
# count per pixel does not, so the limits hold both. Then the sizes users
# download: the Linux program stripped (as cmake --install leaves it) and, when
# built, glyphor.exe, each beside its limit and its floor, a do-nothing C
# program linked the same way here.
#
#   bench/instructions.sh [--max-ratio=R | --check-limits] [PROGRAM [TILESET]]
#
# PROGRAM defaults to build/release/glyphor (cmake --workflow --preset sample),
# TILESET to examples/tileset.bmp; the Windows program is build/windows/glyphor.exe
# (cmake --workflow --preset windows). With --max-ratio the status is 1 when
# the conversion costs more than R times /bin/true; with --check-limits when
# it costs more than 1.10 times, when pack_charset costs more than 6.00
# instructions a pixel (or cannot be found), or a program is larger than its
# limit.
set -euo pipefail
cd "$(dirname "$0")/.."

# The limits: instructions against /bin/true, bytes of each stripped program.
limit_ratio=1.10
# pack_charset, calloc included, per pixel: about 5.0 today, where a plain
# pixel-at-a-time loop (sum, compare, shift) costs about 14. The limit leaves
# a fifth for another compiler's choices and fails long before a loop that
# handles one pixel at a time.
limit_pack=6.00
limit_linux=$((800 * 1024))
limit_windows=$((64 * 1024))

max_ratio=
max_pack=
check_sizes=no
if [[ "${1:-}" == --max-ratio=* ]]; then
    max_ratio=${1#--max-ratio=}
    shift
elif [ "${1:-}" = --check-limits ]; then
    max_ratio=$limit_ratio
    max_pack=$limit_pack
    check_sizes=yes
    shift
fi
program=${1:-build/release/glyphor}
tileset=${2:-examples/tileset.bmp}
windows_program=build/windows/glyphor.exe
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

# The same conversion linked dynamically, from the release preset's flags.
dynamic_build=build/release-dynamic
cmake --preset release -B "$dynamic_build" -DGLYPHOR_STATIC=OFF >"$work/dynamic.log" 2>&1 &&
    cmake --build "$dynamic_build" --target glyphor >>"$work/dynamic.log" 2>&1 ||
    { cat "$work/dynamic.log" >&2; exit 2; }
dynamic=$(instructions dynamic "$dynamic_build/glyphor" "$tileset" "$work/dynamic.bin")

awk -v conversion="$conversion" -v true_count="$true_count" -v packing="${packing:-0}" \
    -v dynamic="$dynamic" -v program="$program" 'BEGIN {
    printf "conversion (%s, 256 tiles): %d instructions\n", program, conversion
    printf "/bin/true:                  %d instructions\n", true_count
    printf "ratio:                      %.2f\n", conversion / true_count
    if (packing > 0)
        printf "pack_charset:               %d instructions, %.2f a pixel\n", packing, packing / 16384
    else
        print "pack_charset:               not found (no symbols?)"
    printf "linked dynamically:         %d instructions, %d of them more\n", dynamic, dynamic - conversion
}'

# size_line NAME FILE LIMIT FLOOR: prints the sizes; status 1 past the limit.
size_line() {
    local size
    size=$(stat -c %s "$2")
    printf '%-28s%9d bytes (limit %d, floor %s)\n' "$1:" "$size" "$3" "$4"
    [ "$size" -le "$3" ]
}

# floor COMPILER OUTPUT: the stripped static size of a do-nothing C program, or n/a.
floor() {
    printf 'int main(void) { return 0; }\n' >"$work/nothing.c"
    if command -v "$1" >/dev/null && "$1" -O2 -static -s "$work/nothing.c" -o "$work/$2" 2>/dev/null; then
        stat -c %s "$work/$2"
    else
        echo n/a
    fi
}

too_large=()
strip -o "$work/glyphor.stripped" "$program"
size_line "glyphor (stripped)" "$work/glyphor.stripped" "$limit_linux" "$(floor cc nothing)" ||
    too_large+=("$program")
if [ -f "$windows_program" ]; then
    size_line "glyphor.exe" "$windows_program" "$limit_windows" \
        "$(floor x86_64-w64-mingw32-gcc nothing.exe)" || too_large+=("$windows_program")
else
    echo "glyphor.exe:                not built (cmake --workflow --preset windows)"
fi

if [ "$check_sizes" = yes ] && [ ${#too_large[@]} -gt 0 ]; then
    echo "larger than its limit: ${too_large[*]}" >&2
    exit 1
fi
if [ -n "$max_ratio" ] &&
    ! awk -v c="$conversion" -v t="$true_count" -v m="$max_ratio" 'BEGIN { exit !(c <= m * t) }'; then
    echo "the conversion costs more than $max_ratio times /bin/true" >&2
    exit 1
fi
if [ -n "$max_pack" ] && ! awk -v p="${packing:-0}" -v m="$max_pack" 'BEGIN { exit !(p > 0 && p <= m * 16384) }'; then
    echo "pack_charset costs more than $max_pack instructions a pixel, or has no symbol to count" >&2
    exit 1
fi
