# cmake --install into a fresh prefix: both programs and both man pages land
# in the usual places, the programs stripped, the installed programs convert
# the sample and draw it back, and the man pages format without warnings.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ binutils groff-base
cmake --workflow --preset sample

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/release --prefix "$prefix"
for file in bin/glyphor bin/glyphor-preview share/man/man1/glyphor.1 \
    share/man/man1/glyphor-preview.1; do
    [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
for program in glyphor glyphor-preview; do
    if readelf -S "$prefix/bin/$program" | grep -q '\.symtab'; then
        echo "installed with its symbol table: $program"
        exit 1
    fi
done
echo "installed stripped: glyphor ($(stat -c %s "$prefix/bin/glyphor") bytes)," \
    "glyphor-preview ($(stat -c %s "$prefix/bin/glyphor-preview") bytes)"

sample_round_trip "$prefix/bin" "$prefix"

for page in "$prefix"/share/man/man1/*.1; do
    warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done
