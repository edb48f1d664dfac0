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
# Each block that runs also runs under strace, which records every program it
# starts; each program's Debian package must be one the reader was told to
# install, or one those bring: the packages README.md's opening names for
# every block (the compiler, CMake, make, Git) and those the block's own
# section names, each as `apt-get install NAME...`, with Debian's required
# set and what all of these depend on. A block that needs a package its
# section does not name fails, as it would on a machine that has only what
# the README lists.
#
# The clone is of HEAD, with the working tree's changes on top (files git
# tracks or would track), so the docs are checked as they stand.
set -euo pipefail
. scripts/lib.sh
need_packages git cmake make g++ googletest libgtest-dev libgmock-dev imagemagick \
    acme 64tass cc65 g++-mingw-w64-x86-64 zip groff-base man-db strace \
    "${web_packages[@]}"

root=$PWD
scratch=$(realpath "$(mktemp -d)")
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
# marker), N.at (FILE:LINE) and N.needs (the packages its section names),
# numbered on from the blocks already there; README.md's opening names those
# of every block, in $blocks/baseline. A section starts at a "## " heading.
extract() {
    awk -v file="$1" -v dir="$blocks" -v first="$(find "$blocks" -name '*.at' | wc -l)" '
        function fail(message) { print file ":" FNR ": " message > "/dev/stderr"; failed = 1; exit 1 }
        # The names after each "apt-get install" in text, up to the end of the code span.
        function scan(text,    rest, count_words, words, i) {
            rest = text
            while (match(rest, /apt-get install [^`]*/)) {
                count_words = split(substr(rest, RSTART + 16, RLENGTH - 16), words, /[ \t]+/)
                rest = substr(rest, RSTART + RLENGTH)
                for (i = 1; i <= count_words; i++) {
                    if (words[i] ~ /^-/ || words[i] == "") continue
                    if (words[i] !~ /^[a-z0-9][a-z0-9+.-]+$/) break
                    names[section] = names[section] " " words[i]
                }
            }
        }
        FNR == 1 && NR != 1 { scan(paragraph) }
        FNR == 1 { section = 0; fence = ""; paragraph = "" }
        # The first pass reads what each section names: in code blocks line by
        # line, in text a paragraph at a time, as a code span may go on over a
        # line break.
        NR == FNR && fence != "" { if ($0 == "```") fence = ""; else scan($0); next }
        NR == FNR && (/^```/ || /^#/ || /^$/) { scan(paragraph); paragraph = "" }
        NR == FNR {
            if (/^```/) fence = $0
            else if (/^## /) section++
            else paragraph = paragraph " " $0
            next
        }
        fence == "" && /^## / { section++ }
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
                print file ":" FNR > (out ".at"); close(out ".at")
                print names[section] > (out ".needs"); close(out ".needs")
            } else if ($0 ~ /^```(sh|make)$/) {
                fail("a " substr($0, 4) " block without a <!-- docs: ... --> line before it")
            }
            at = 0
            next
        }
        at != 0 { fail("<!-- docs: " how " --> is not followed by a code block") }
        END {
            if (!failed && fence != "") fail("a code block that does not end")
            if (file == "README.md") print names[0] > (dir "/baseline")
        }
    ' "$1" "$1"
}
(cd "$clone" && extract README.md && extract CONTRIBUTING.md)
count=$(find "$blocks" -name '*.at' | wc -l)
echo "docs: $count marked blocks in README.md and CONTRIBUTING.md"

# The workflows CONTRIBUTING.md's presets table names (its first column) are
# the workflows CMakePresets.json has.
tabled=$(awk '/^\| Workflow \|/ { table = 1; next } table && !/^\|/ { exit }
    table { split($0, cells, "|"); cell = cells[2]
        while (match(cell, /`[^`]+`/)) { print substr(cell, RSTART + 1, RLENGTH - 2); cell = substr(cell, RSTART + RLENGTH) } }' \
    "$clone/CONTRIBUTING.md" | sort)
presets=$(cd "$clone" && cmake --list-presets=workflow | sed -n 's/^ *"\([^"]*\)".*/\1/p' | sort)
if [ "$tabled" != "$presets" ]; then
    echo "CONTRIBUTING.md's presets table names the workflows:" $tabled
    echo "CMakePresets.json has:" $presets
    exit 1
fi

# Debian's required set, which every Debian system has, and what README.md's
# opening tells the reader to install for every block.
required=$(dpkg-query -W -f='${Package} ${Essential} ${Priority}\n' |
    awk '$2 == "yes" || $3 == "required" { print $1 }')
baseline=$(cat "$blocks/baseline")
[ -n "$baseline" ] || { echo "README.md's opening names no packages (apt-get install ...)"; exit 1; }
declare -A allowed

# allowed_for N: the packages block N may need, as a reader who installed what
# the README names for it has them: those packages and all they depend on.
allowed_for() {
    local names="$baseline $(cat "$blocks/$1.needs")"
    if [ -z "${allowed[$names]:-}" ]; then
        for name in $names; do
            dpkg-query -W "$name" >/dev/null 2>&1 ||
                { echo "$(cat "$blocks/$1.at"): names $name, which is not installed here" >&2; return 1; }
        done
        # shellcheck disable=SC2086
        allowed[$names]=$(apt-cache depends --recurse --installed --no-recommends --no-suggests \
            --no-conflicts --no-breaks --no-replaces --no-enhances $required $names |
            grep -v '^ ' | sed 's/:.*//' | sort -u)
    fi
    echo "${allowed[$names]}"
}

# programs_run N: "PACKAGES PROGRAM" for each program block N started (its
# trace) but those of the scratch folder (the clone's builds, the reader's
# files, glyphor in ~/.local) and those started by a relative path (only a
# build starts its own programs so). PACKAGES are all the packages that hold
# it, by the path it was started by or the file that path leads to, joined by
# commas; "-" where none does. A program may be had from more than one package
# (binutils-multiarch's ar, which a link of binutils's leads to, diverting
# binutils-x86-64-linux-gnu's): any of them will do. dpkg knows a file by the
# path its package gives, which may be the target of a link or, on a system
# with /usr merged, the path without /usr.
programs_run() {
    local program real
    sed -n 's/^[0-9]* *execve("\([^"]*\)".*/\1/p' "$blocks/$1.trace" | sort -u |
        while read -r program; do
            [[ "$program" == /* ]] || continue  # a build's own program, started by make
            real=$(realpath -e "$program" 2>/dev/null) || real=$program
            [[ "$real" == "$scratch"/* ]] || printf '%s\t%s\n' "$program" "$real"
        done >"$blocks/$1.programs"
    tr '\t' '\n' <"$blocks/$1.programs" | sed 'p; s|^/usr/|/|' | sort -u |
        xargs -r dpkg-query -S 2>/dev/null | grep -v '^diversion by' |
        awk -F': ' '{ n = split($1, names, /, /)
            for (i = 1; i <= n; i++) { sub(/:.*/, "", names[i]); print names[i] "\t" $2 } }' \
        >"$blocks/$1.owners"
    awk -F'\t' 'NR == FNR { owners[$2] = owners[$2] "," $1; next }
        {
            packages = ""
            split($2 "\t" $1, paths, "\t")
            for (i = 1; i <= 2; i++) {
                stripped = paths[i]
                sub(/^\/usr\//, "/", stripped)
                packages = packages owners[paths[i]] (stripped != paths[i] ? owners[stripped] : "")
            }
            print (packages == "" ? "-" : substr(packages, 2)), $1
        }' "$blocks/$1.owners" "$blocks/$1.programs"
}

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
        if ! (cd "$folder" && strace -f -qq -z --seccomp-bpf -e trace=execve -e signal=none \
            -o "$blocks/$n.trace" bash -euo pipefail "$blocks/$n.sh") >"$blocks/$n.log" 2>&1; then
            cat "$blocks/$n.log"
            echo "$at: this block, run ${how#run }, failed:"
            cat "$blocks/$n"
            exit 1
        fi
        allowed_for "$n" >"$blocks/$n.allowed"
        unnamed=$(programs_run "$n" | awk 'NR == FNR { allowed[$1]; next }
            { n = split($1, packages, ","); for (i = 1; i <= n; i++) if (packages[i] in allowed) next }
            1' "$blocks/$n.allowed" -)
        if [ -n "$unnamed" ]; then
            echo "$at: this block runs programs of packages that neither README.md's opening nor"
            echo "its section names for it (apt-get install ...), nor those bring (\"-\": no package):"
            echo "$unnamed"
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
