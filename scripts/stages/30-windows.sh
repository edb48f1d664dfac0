# The Windows x64 console programs: cross-built with mingw-w64, checked for
# what they need from Windows and for glyphor.exe's size, and run under Wine:
# glyphor.exe through the command-line suite, glyphor-preview.exe through a
# round trip.
set -euo pipefail
# Debian's wine64 starts without Wine's preloader, so nothing keeps the low
# addresses Wine needs free before the kernel places the C heap at random, up
# to 1 GiB above the loader. About one start in a few thousand it lands on
# the page Wine maps at 0x7ffe0000 in every process, and Wine stops with
# status 1 before the program runs, silently under WINEDEBUG=-all ("failed to
# map the shared user data"). The whole stage runs with the address layout
# fixed (setarch -R), so that every start finds that page free, wherever the
# system lets a process fix its layout.
if [ -z "${GLYPHOR_FIXED_LAYOUT:-}" ] && setarch -R true 2>/dev/null; then
    exec env GLYPHOR_FIXED_LAYOUT=1 setarch -R bash "$0" "$@"
fi
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev \
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 python3

cmake --workflow --preset windows
cmake --build build/windows --target windows_file_tests
exe="$PWD/build/windows/glyphor.exe"
preview="$PWD/build/windows/glyphor-preview.exe"

# PE32+ x86-64 console programs that run on a bare Windows: they may import
# nothing but the system's KERNEL32.dll and the msvcrt.dll runtime.
for program in "$exe" "$preview"; do
    headers=$(x86_64-w64-mingw32-objdump -p "$program")
    imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort | paste -sd' ')
    echo "$(basename "$program"): $(stat -c %s "$program") bytes, imports: $imports"
    grep -q 'file format pei-x86-64' <<<"$headers" || { echo "not an x86-64 PE file"; exit 1; }
    grep -Eq '^Magic[[:space:]]+020b' <<<"$headers" || { echo "not PE32+"; exit 1; }
    grep -Eq '^Subsystem[[:space:]]+00000003' <<<"$headers" || { echo "not a console program"; exit 1; }
    [ "$imports" = "KERNEL32.dll msvcrt.dll" ] || { echo "imports other DLLs: $imports"; exit 1; }
done
# What users download stays small: glyphor.exe at most 64 KiB, stripped.
[ "$(stat -c %s "$exe")" -le $((64 * 1024)) ] || { echo "glyphor.exe is larger than 64 KiB"; exit 1; }

suite=$(host_cli_suite)

# Wine in a scratch folder of its own (its prefix, and the temporary folder
# where it keeps its server's socket), set up quietly before the suite: a
# first start would print to standard error. One persistent server for the
# whole suite spares every run the server's start-up; it is stopped, and the
# folder removed, however the stage ends.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/glyphor-wine.XXXXXX")
trap 'wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; umount "$scratch/disk" 2>/dev/null; rm -rf "$scratch"' EXIT
mkdir "$scratch/prefix" "$scratch/tmp"
export WINEPREFIX="$scratch/prefix" TMPDIR="$scratch/tmp" WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
wineserver -p
if ! wine wineboot -i >"$scratch/wineboot.log" 2>&1; then
    cat "$scratch/wineboot.log"
    exit 1
fi

# With no console the program prints file names in the ANSI code page, which
# Wine sets from the locale: Windows-1252 for C.UTF-8.
"$suite" --program="$exe" --runner=wine --argv0="$(winepath -w "$exe")" --newline=crlf \
    --console-charset=CP1252 --system=windows

# The file access's own tests, in folders of their own: once as the suite
# runs, and once under a terminal, where Wine gives the program a console
# (which draws its text with cursor moves, left out here with the blanks).
# A failure says which run failed.
mkdir "$scratch/files" "$scratch/console"
wine build/windows/windows_file_tests.exe "$(winepath -w "$scratch/files")" ||
    { echo "windows_file_tests.exe failed (the FAILED lines above say where)"; exit 1; }
status=0
script -qec "wine build/windows/windows_file_tests.exe '$(winepath -w "$scratch/console")'" \
    /dev/null </dev/null >"$scratch/console.log" || status=$?
console=$(tr -d '\r ' <"$scratch/console.log" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g')
echo "under a terminal: $(tail -n 1 <<<"$console")"
[[ "$status" -eq 0 && "$console" == *windows_file_tests:0failed* && "$console" != *noconsole* ]] ||
    { echo "windows_file_tests.exe under a terminal failed (status $status), or had no console:"
      echo "$console"; exit 1; }

# The preview draws glyphor.exe's charset, and glyphor.exe reads the same
# bytes back from the picture; through names no ANSI code page holds whole,
# which both programs must take as wide-character arguments to open at all.
charset="$scratch/café-ταυτότητα.bin"
picture="$scratch/日本語.bmp"
wine "$exe" examples/tileset.bmp "$charset" 200 >/dev/null
status=0
wine "$preview" "$charset" "$picture" >/dev/null 2>"$scratch/preview.log" || status=$?
# Its message names both files in the ANSI code page, '?' for what that
# lacks; shown in UTF-8, as the rest of the log is.
message=$(iconv -f CP1252 -t UTF-8 "$scratch/preview.log" | tr -d '\r')
echo "$message"
[ "$status" -eq 0 ] &&
    [ "$message" = "$(scripts/messages.py --preview shows_tiles "$scratch/???.bmp" 200 \
        "$scratch/café-?????????.bin")" ] ||
    { echo "glyphor-preview.exe failed or did not name its files as the code page can"; exit 1; }
wine "$exe" "$picture" "$scratch/again.bin" 200 >/dev/null
cmp "$charset" "$scratch/again.bin"

# A replaced file is not hidden: the new file that takes its place has the
# old one's attributes.
wine "$exe" examples/tileset.bmp "$scratch/again.bin" 8 >/dev/null
attributes=$(wine cmd /c attrib "$(winepath -w "$scratch/again.bin")" | tr -d '\r')
[[ "${attributes%%Z:*}" != *H* ]] || { echo "the replaced charset is hidden: $attributes"; exit 1; }

# A full disk: a small file system, full but for an old charset, where no new
# charset fits. The write fails, the old file stays whole, and nothing else is
# left there: the new file went with its handle. Mounting needs root with
# CAP_SYS_ADMIN; without it this is said and left out (in CI, it fails).
mkdir "$scratch/disk"
if mount -t tmpfs -o size=64k tmpfs "$scratch/disk" 2>/dev/null; then
    wine "$exe" examples/tileset.bmp "$scratch/disk/charset.bin" 100 >/dev/null
    cp "$scratch/disk/charset.bin" "$scratch/old.bin"
    head -c 1M /dev/zero >"$scratch/disk/filler" 2>/dev/null || true
    if wine "$exe" examples/tileset.bmp "$scratch/disk/charset.bin" >"$scratch/full.log"; then
        echo "glyphor.exe wrote a charset to a full disk"
        exit 1
    fi
    # The message from the program's own table, as the last line of the log.
    [ "$(tr -d '\r' <"$scratch/full.log" | tail -n 1)" = \
        "$(scripts/messages.py write_failed "$scratch/disk/charset.bin")" ] ||
        { cat "$scratch/full.log"; exit 1; }
    cmp "$scratch/old.bin" "$scratch/disk/charset.bin"
    # A new output there fails too, and leaves nothing under its name.
    if wine "$exe" examples/tileset.bmp "$scratch/disk/new.bin" >"$scratch/full.log"; then
        echo "glyphor.exe wrote a new charset to a full disk"
        exit 1
    fi
    grep -q "Impossible d'ecrire le fichier de sortie" "$scratch/full.log" ||
        { cat "$scratch/full.log"; exit 1; }
    [ "$(ls -A "$scratch/disk" | paste -sd' ')" = "charset.bin filler" ] ||
        { echo "left on the full disk: $(ls -A "$scratch/disk")"; exit 1; }
    echo "a full disk: glyphor.exe failed, said so, left the old charset whole and no new file"
else
    lacking "windows: a full disk" "a tmpfs mount (root with CAP_SYS_ADMIN)"
fi
