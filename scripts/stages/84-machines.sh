# The example programs for the C64 and the VIC-20: assembled by the machines
# preset and by the README's acme command, each a PRG with its load address
# and the charset where the program points the video chip. Then the one-line
# includes that glyphor(1) gives for each assembler Debian ships, assembled
# exactly as written there, and the same lines in the Windows zip's README.
# (The docs stage assembles the README's own examples.)
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ acme 64tass cc65
cmake --workflow --preset machines
root=$PWD
charset="$root/build/machines/sample-charset.bin"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check_prg FILE LOAD CHARSET_AT CHARSET_FILE LENGTH: FILE loads at LOAD and
# holds the first LENGTH bytes of CHARSET_FILE at address CHARSET_AT.
check_prg() {
    local file=$1 load=$2 at=$3 bytes=$4 length=$5
    [ "$(od -An -tx1 -N2 "$file" | tr -d ' ')" = "$(printf '%02x%02x' $((load & 255)) $((load >> 8)))" ] ||
        { echo "$file: load address is not $(printf '$%04X' "$load")"; exit 1; }
    cmp -n "$length" <(tail -c +$((2 + at - load + 1)) "$file") "$bytes" ||
        { echo "$file: the charset is not at $(printf '$%04X' "$at")"; exit 1; }
    echo "$file: loads at $(printf '$%04X' "$load"), charset at $(printf '$%04X' "$at")"
}
check_prg build/machines/show-c64.prg 0x0801 0x2000 "$charset" 2048
check_prg build/machines/show-vic20.prg 0x1001 0x1C00 "$charset" 512

# A charset of the user's own, through the README's command.
head -c 2048 /dev/urandom >"$work/charset.bin"
(cd "$work" && acme -f cbm -o show-c64.prg "$root/machines/show-c64.asm" &&
    acme -f cbm -o show-vic20.prg "$root/machines/show-vic20.asm")
check_prg "$work/show-c64.prg" 0x0801 0x2000 "$work/charset.bin" 2048
check_prg "$work/show-vic20.prg" 0x1001 0x1C00 "$work/charset.bin" 512
grep -qF 'acme -f cbm -o show-c64.prg path/to/glyphor/machines/show-c64.asm' README.md ||
    { echo "README.md no longer shows the acme command checked here"; exit 1; }

# The include line for an assembler as the Windows zip's README shows it:
# `LINE` (NAME).
readme_line() {
    grep -o "\`[^\`]*\` ($1)" "$root/doc/README-windows.md" | sed 's/^`\(.*\)` (.*)$/\1/'
}
# ... and as glyphor(1) shows it: ".B LINE" followed by "(NAME)".
man_line() {
    awk -v name="($1)" 'previous ~ /^\.B / && index($0, name) == 1 {
            sub(/^\.B /, "", previous); gsub(/\\\(dq/, "\"", previous); print previous }
        { previous = $0 }' "$root/doc/glyphor.1"
}
cp "$charset" "$work/charset.bin"
cd "$work"
for assembler in ACME 64tass ca65; do
    line=$(man_line "$assembler")
    [ -n "$line" ] || { echo "glyphor(1) names no include line for $assembler"; exit 1; }
    [ "$(readme_line "$assembler")" = "$line" ] ||
        { echo "glyphor(1) and the Windows zip's README differ for $assembler"; exit 1; }
    printf '%s\n' "$line" >include.s
    rm -f include.bin
    assemble "$assembler" include.s include.bin
    cmp include.bin charset.bin
    echo "$assembler: $line"
done
