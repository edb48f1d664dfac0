# The docs as a reader follows them: every command that README.md and
# CONTRIBUTING.md show, taken from the files themselves and run as written,
# in a fresh clone, one block after the other. Any command that fails fails
# the stage, and so does a committed file that a command changes (a redrawn
# sample or picture that is not up to date).
#
# A code block is run when the line right before its opening fence says how:
#
#   <!-- docs: run in clone -->    run in the clone's root folder
#   <!-- docs: run in work -->     run in a folder of the reader's own files,
#                                  the same one for every such block
#   <!-- docs: save FILE -->       saved as FILE in that folder (a makefile)
#   <!-- docs: assemble NAME -->   assembled there by ACME, 64tass or ca65; it
#                                  must include charset.bin, then write "hello
#                                  world" in screen codes
#   <!-- docs: not run, REASON --> not run, for the reason given
#
# Every sh and make block must say one of these, so a command cannot be added
# unchecked by forgetting to mark it. As a reader would, the blocks run with
# glyphor installed in ~/.local (HOME is a scratch folder, so the README's
# `--prefix ~/.local` installs there) and ~/.local/bin first on PATH;
# path/to/glyphor stands for the clone. scripts/test itself, which runs this
# stage, is not run again.
#
# The clone is of HEAD, with the working tree's changes on top (files git
# tracks or would track), so the docs are checked as they stand.
set -euo pipefail
. scripts/lib.sh
need_packages git cmake make g++ googletest libgtest-dev libgmock-dev imagemagick \
    acme 64tass cc65

root=$PWD
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
clone="$scratch/glyphor"
work="$scratch/work"
blocks="$scratch/blocks"
mkdir -p "$work" "$blocks" "$scratch/home" "$scratch/bin"

git clone --quiet --no-checkout "$root" "$clone"
git -C "$clone" fetch --quiet "$root" HEAD
git -C "$clone" checkout --quiet --detach FETCH_HEAD
git diff --binary HEAD >"$scratch/changes.diff"
[ -s "$scratch/changes.diff" ] && git -C "$clone" apply "$scratch/changes.diff"
git ls-files --others --exclude-standard -z | xargs -0 -r cp --parents -t "$clone"
git -C "$clone" add --all
git -C "$clone" -c user.name=docs -c user.email=docs@localhost commit --quiet --allow-empty \
    -m "the working tree"

# Debian's ImageMagick, whatever else is called convert on this machine.
ln -s /usr/bin/convert "$scratch/bin/convert"
export HOME="$scratch/home"
export PATH="$HOME/.local/bin:$scratch/bin:$PATH"
export CMAKE_BUILD_PARALLEL_LEVEL="$(nproc)"

# extract FILE: each marked block of FILE as $blocks/N (its text), N.how (its
# marker) and N.at (FILE:LINE), numbered on from the blocks already there.
extract() {
    awk -v file="$1" -v dir="$blocks" -v first="$(find "$blocks" -name '*.at' | wc -l)" '
        function fail(message) { print file ":" NR ": " message > "/dev/stderr"; failed = 1; exit 1 }
        fence != "" {
            if ($0 == "```") { fence = ""; close(out) } else if (out != "") print > out
            next
        }
        /^<!-- docs: .* -->$/ { how = substr($0, 12, length($0) - 15); at = NR; next }
        /^```/ {
            fence = $0
            out = ""
            if (at == NR - 1) {
                n = first + count++
                out = dir "/" n
                printf "" > out
                print how > (out ".how"); close(out ".how")
                print file ":" NR > (out ".at"); close(out ".at")
            } else if ($0 ~ /^```(sh|make)$/) {
                fail("a " substr($0, 4) " block without a <!-- docs: ... --> line before it")
            }
            at = 0
            next
        }
        at != 0 { fail("<!-- docs: " how " --> is not followed by a code block") }
        END { if (!failed && fence != "") fail("a code block that does not end") }
    ' "$1"
}
(cd "$clone" && extract README.md && extract CONTRIBUTING.md)
count=$(find "$blocks" -name '*.at' | wc -l)
echo "docs: $count marked blocks in README.md and CONTRIBUTING.md"

# "hello world" in screen codes: h e l l o, space, w o r l d.
printf '\010\005\014\014\017\040\027\017\022\014\004' >"$scratch/hello.codes"

ran=0
for ((n = 0; n < count; n++)); do
    how=$(cat "$blocks/$n.how")
    at=$(cat "$blocks/$n.at")
    sed "s|path/to/glyphor|$clone|g" "$blocks/$n" >"$blocks/$n.sh"
    start=$SECONDS
    case $how in
    "run in clone" | "run in work")
        folder=$clone
        [ "$how" = "run in work" ] && folder=$work
        if grep -q '^scripts/test\b' "$blocks/$n.sh"; then
            echo "$at: not run again: scripts/test"
            sed -i 's|^scripts/test\b.*||' "$blocks/$n.sh"
        fi
        if ! (cd "$folder" && bash -euo pipefail "$blocks/$n.sh") >"$blocks/$n.log" 2>&1; then
            cat "$blocks/$n.log"
            echo "$at: this block, run ${how#run }, failed:"
            cat "$blocks/$n"
            exit 1
        fi
        ;;
    "save "*)
        cp "$blocks/$n.sh" "$work/${how#save }"
        ;;
    "assemble "*)
        assembler=${how#assemble }
        cp "$blocks/$n.sh" "$work/$assembler.s"
        cat "$work/charset.bin" "$scratch/hello.codes" >"$scratch/expected.bin"
        if ! (cd "$work" && assemble "$assembler" "$assembler.s" "$assembler.bin") ||
            ! cmp "$work/$assembler.bin" "$scratch/expected.bin"; then
            echo "$at: this block, for $assembler, does not give charset.bin and then \"hello world\" in screen codes:"
            cat "$blocks/$n"
            exit 1
        fi
        ;;
    "not run, "*)
        echo "$at: not run (${how#not run, })"
        continue
        ;;
    *)
        echo "$at: <!-- docs: $how --> says nothing this stage knows"
        exit 1
        ;;
    esac
    ran=$((ran + 1))
    echo "$at: $how ($((SECONDS - start)) s)"
done
[ "$ran" -gt 0 ] || { echo "docs: no block was run"; exit 1; }

changed=$(git -C "$clone" status --porcelain)
if [ -n "$changed" ]; then
    echo "the docs' commands changed files that are committed or not ignored:"
    echo "$changed"
    exit 1
fi
echo "docs: $ran blocks ran as written; the clone is as committed"
