# What users get. The usual build from source, with no GoogleTest: both
# programs and no tests, and asking for the tests says what is missing. The
# Debian package: lintian finds no error, it holds
# exactly the expected files, and its unpacked programs convert the sample and
# draw it back. The Windows zip: both programs, the documents, and the manual
# pages as plain CRLF text; its README and pages name no /dev/ path, which
# Windows lacks, and the README links only to files the zip holds, as its source
# in doc/ links only to files in the tree. The release:
# two builds of this commit are the same bytes, and its SHA256SUMS checks.
#
# Two builds of one commit are the same bytes wherever, whenever and by
# whomever they are made with the same Debian release's tools: every time
# stamp (the .deb's members, the zip's entries, the Windows programs' PE
# headers) is the last commit's time, or SOURCE_DATE_EPOCH when set; the
# compilers and flags are the presets', never CXX, CXXFLAGS or LDFLAGS from the
# environment, and release builds name their sources as the tree does
# (-ffile-prefix-map); after CPack, cmake/cpack_repack.cmake makes the zip again
# with Info-ZIP (name order, no owners, dated in UTC) and the .deb with dpkg-deb
# (members owned by root, folders rwxr-xr-x, Installed-Size as dpkg-gencontrol
# counts it). Here the release is made twice from the commit, each time in a
# clean clone, the second later, in a folder of another name (on /dev/shm where
# it can), in another time zone and under another umask; any file that differs
# fails the stage, with diffoscope's report. About two minutes, most of it the
# two release builds.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ gzip groff-base dpkg-dev lintian \
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 unzip zip git diffoscope-minimal \
    "${web_packages[@]}"

scratch=$(mktemp -d)
# A second file system, where there is one, for the second release build.
other=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch" "$other"' EXIT

# same_list NAME EXPECTED ACTUAL: the two file lists are equal.
same_list() {
    [ "$2" = "$3" ] && return 0
    echo "$1 holds:"
    echo "$3"
    echo "expected:"
    echo "$2"
    return 1
}

# GoogleTest hidden from CMake, as on a machine without it.
plain=build/plain
cmake -S . -B "$plain" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
cmake --build "$plain"
targets=$(cmake --build "$plain" --target help)
if grep -E 'tests|test_support' <<<"$targets" || [ -e "$plain/tests" ]; then
    echo "the usual build has test targets"
    exit 1
fi
cmake --install "$plain" --prefix "$scratch/prefix"
sample_round_trip "$scratch/prefix/bin" "$scratch"
if cmake -S . -B "$scratch/required" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
    -DGLYPHOR_BUILD_TESTS=ON >"$scratch/required.log" 2>&1 ||
    ! grep -q 'GoogleTest was not found' "$scratch/required.log"; then
    cat "$scratch/required.log"
    echo "asking for the tests without GoogleTest did not fail as it should"
    exit 1
fi

cmake --workflow --preset package
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
deb="build/package/glyphor_${version}_$(dpkg --print-architecture).deb"
dpkg-deb --info "$deb"
# lintian warns when run as root, as it unpacks what it checks; this is the
# package just built here, so the warning is left out for CI, which runs as root.
lintian --fail-on error --allow-root "$deb"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
same_list "$deb" "$(printf '%s\n' usr/bin/glyphor usr/bin/glyphor-preview \
    usr/share/doc/glyphor/changelog.gz usr/share/doc/glyphor/copyright \
    usr/share/lintian/overrides/glyphor usr/share/man/man1/glyphor-preview.1.gz \
    usr/share/man/man1/glyphor.1.gz)" "$(cd "$root" && find . -type f | sed 's|^\./||' | sort)"
sample_round_trip "$root/usr/bin" "$scratch"

cmake --workflow --preset windows-package
zip="build/windows/glyphor-${version}-win64.zip"
top="glyphor-${version}-win64"
same_list "$zip" "$(printf "$top/%s\n" CHANGELOG.md LICENSE.txt README.md glyphor-preview.exe \
    glyphor-preview.txt glyphor.exe glyphor.txt)" "$(unzip -Z1 "$zip" | sort)"
unzip -q "$zip" -d "$scratch"
for program in glyphor glyphor-preview; do
    x86_64-w64-mingw32-objdump -f "$scratch/$top/$program.exe" | grep -q 'file format pei-x86-64' ||
        { echo "$program.exe is not an x86-64 Windows program"; exit 1; }
done
# Every line of every text ends in CRLF; the pages hold no backspace (overstrike)
# or escape (colour) and name their section headings.
for text in "$scratch/$top"/*.txt "$scratch/$top"/*.md; do
    if LC_ALL=C grep -naP '(?<!\r)$' "$text" | head -3 | grep .; then
        echo "$text: a line without CRLF"
        exit 1
    fi
done
for page in glyphor glyphor-preview; do
    if LC_ALL=C grep -naP '[\x08\x1b]' "$scratch/$top/$page.txt" | head -3 | grep .; then
        echo "$page.txt: overstrikes or escapes"
        exit 1
    fi
    grep -q '^SYNOPSIS' "$scratch/$top/$page.txt" || { echo "$page.txt: no SYNOPSIS"; exit 1; }
done
# What a Windows user reads works there: no /dev/stdin or /dev/stdout, and
# every link in the README leads to a file beside it; in the tree, where the
# README is read too, every link in its source leads to a file of the tree.
for text in "$scratch/$top"/README.md "$scratch/$top"/glyphor*.txt; do
    if grep -n '/dev/' "$text"; then
        echo "$text: a /dev/ path, which Windows lacks"
        exit 1
    fi
done
# links_lead_to_files README: every link target in README is a file beside it.
links_lead_to_files() {
    local folder links
    folder=$(dirname "$1")
    links=$(grep -o '\]([^)]*)' "$1" | sed 's/^](\(.*\))$/\1/; s/#.*//' | sort -u)
    [ -n "$links" ] || { echo "$1 links to nothing: is the check still reading links?"; return 1; }
    for link in $links; do
        [ -f "$folder/$link" ] || { echo "$1 links to $link, which is not there"; return 1; }
    done
    echo "$1 links to $(echo $links), all there"
}
links_lead_to_files "$scratch/$top/README.md"
links_lead_to_files doc/README-windows.md
echo "zip: no /dev/ path in its texts"

# The release, built twice from this commit, each time in a clean clone: the
# second some seconds later, in a folder of another name and length (on
# another file system when /dev/shm is one, which lists a folder in another
# order), in another time zone and under another umask. Every file must be
# the same bytes; diffoscope shows where one is not.
commit=$(git rev-parse HEAD)
release_in() {
    git clone -q --no-checkout "$PWD" "$1"
    git -C "$1" checkout -q --detach "$commit"
    (cd "$1" && cmake --workflow --preset release) >"$1.log" 2>&1 || { cat "$1.log"; return 1; }
}
release_in "$scratch/first"
(umask 027; TZ=XYZ-14 release_in "$other/the-second-build")
first="$scratch/first/build/dist/glyphor-$version"
second="$other/the-second-build/build/dist/glyphor-$version"
files=$(printf '%s\n' "glyphor-$version-win64.zip" "glyphor-$version-web.html" \
    "glyphor_${version}_$(dpkg --print-architecture).deb")
same_list "$first" "$(printf '%s\n' SHA256SUMS "$files" | sort)" "$(ls "$first" | sort)"
same_list "$second" "$(ls "$first" | sort)" "$(ls "$second" | sort)"
differ=no
for path in "$first"/*; do
    file=$(basename "$path")
    cmp -s "$path" "$second/$file" && continue
    echo "$file differs between two builds of $commit:"
    diffoscope --text - "$path" "$second/$file" | head -n 300 || true
    differ=yes
done
[ "$differ" = no ]
same_list "SHA256SUMS" "$(sort <<<"$files")" "$(sed 's/^[0-9a-f]\{64\}  //' "$first/SHA256SUMS" | sort)"
(cd "$first" && sha256sum -c --strict SHA256SUMS)
