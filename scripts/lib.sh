# Helpers for the test stages. Source it; do not run it.

# need_packages PKG...: installs the Debian packages that are missing.
need_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    if [ ! -e /tmp/.glyphor-apt-updated ]; then
        "${sudo[@]}" apt-get update -q && touch /tmp/.glyphor-apt-updated
    fi
    # Nothing asks questions here, so debconf has nothing to warn of (such as
    # delaying configuration where apt-utils is missing).
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes \
        apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# lacking STAGE WHAT: says in one line that STAGE (or a part of it) needs WHAT,
# which this machine lacks and a VM or a privileged container gives, and goes
# on without it; in CI, which runs as root on a whole machine and leaves
# nothing out, it fails the stage instead.
lacking() {
    if [ -n "${CI:-}" ]; then
        echo "$1: cannot run in CI: it needs $2"
        exit 1
    fi
    echo "$1: not run: it needs $2 (a VM or a privileged container gives it)"
}

# write_path_needs STAGE: the line, before the tests run, that says what the
# write path tests need and leave out where it is missing.
write_path_needs() {
    echo "$1: the write path tests of a bind mount, a user namespace and a full disk need" \
        "root with CAP_SYS_ADMIN, those of ACLs and chattr's flags root on ext4 or XFS (a VM or a" \
        "privileged container gives them); where one is missing, it says so and is left out"
}

# The Debian packages that build the web page's module: clang and lld for
# wasm32, llvm-ar, wasi-libc and libc++ (cmake/wasm32-wasi.cmake), and
# binaryen's wasm-opt, which web/CMakeLists.txt runs on it.
web_packages=(clang-14 lld-14 llvm-14 wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32
    libclang-rt-14-dev-wasm32 binaryen)

# need_npm: Node.js and npm, which comes with some builds of Node.js and is a
# package of its own with Debian's.
need_npm() {
    need_packages nodejs
    command -v npm >/dev/null || need_packages npm
}

# host_cli_suite: builds the command-line suite for this machine (in build/test)
# and prints its path, for the stages that run it against another build.
host_cli_suite() {
    cmake --preset test >/dev/null
    cmake --build --preset test --target cli_tests >&2
    echo "$PWD/build/test/tests/cli_tests"
}

# sample_round_trip BINDIR SCRATCH [RUNNER...]: glyphor and glyphor-preview from
# BINDIR (run through RUNNER, an emulator, if given) convert the sample
# tileset, draw the charset back, and convert the picture into the same bytes.
sample_round_trip() {
    local bin=$1 scratch=$2
    shift 2
    "$@" "$bin/glyphor" examples/tileset.bmp "$scratch/charset.bin" >/dev/null
    "$@" "$bin/glyphor-preview" "$scratch/charset.bin" "$scratch/preview.bmp" >/dev/null
    "$@" "$bin/glyphor" "$scratch/preview.bmp" "$scratch/again.bin" >/dev/null
    cmp "$scratch/charset.bin" "$scratch/again.bin"
}

# assemble ASSEMBLER SOURCE OUTPUT: assembles SOURCE, which sets no address of
# its own, into the plain bytes OUTPUT with ACME, 64tass or ca65, in the
# current folder (where the files it includes are).
assemble() {
    case $1 in
    ACME | acme) acme -f plain --setpc 0x2000 -o "$3" "$2" ;;
    64tass) 64tass -q --nostart -o "$3" "$2" ;;
    ca65) ca65 -o "$3.o" "$2" && ld65 -t none -o "$3" "$3.o" && rm "$3.o" ;;
    *) echo "assemble: no assembler called $1" >&2; return 1 ;;
    esac
}
