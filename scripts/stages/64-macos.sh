# macOS: both programs (and the sample tileset's drawer) cross-compiled and
# linked for arm64 and x86_64 with the Zig toolchain from the npm registry
# (clang, libc++ and the macOS SDK's headers and libraries, pinned by version
# and integrity in tools/zig/package-lock.json), every warning an error. Each
# result must be a Mach-O program for its processor. Nothing runs: this
# proves the code compiles and links against macOS's headers and libc++, not
# that it works there. The first link for each processor builds Zig's libc++
# (minutes); Zig keeps it in its cache (~/.cache/zig) for later runs.
# What macOS's own calls do (their errors, rename on APFS, fsync, which there
# leaves the data in the drive's cache unless F_FULLFSYNC asks for more) stays
# untested. With an empty cache the stage took 155 seconds, with it 15 (npm ci
# runs again only for a changed lock file).
set -euo pipefail
. scripts/lib.sh
need_packages cmake make file
need_npm
# npm ci installs exactly what the lock file pins, checked against its
# integrity; it is run again only when the lock file has changed since.
if ! cmp -s tools/zig/package-lock.json tools/zig/node_modules/.installed-from-lock; then
    (cd tools/zig && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error &&
        cp package-lock.json node_modules/.installed-from-lock)
fi
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
for preset in macos-arm64:arm64 macos-x86_64:x86_64; do
    name=${preset%%:*}
    cpu=${preset#*:}
    cmake --workflow --preset "$name"
    for program in glyphor glyphor-preview examples/make_sample_tileset; do
        kind=$(file -b "build/$name/$program")
        echo "$name: $program: $kind"
        [[ "$kind" == "Mach-O 64-bit $cpu executable"* ]] ||
            { echo "$name: $program is not a Mach-O program for $cpu"; exit 1; }
    done
done
