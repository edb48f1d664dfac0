# Other hosts: the programs cross-built for aarch64 (64-bit ARM, where char is
# unsigned) and run under qemu-user, and built by clang++ on libc++ (the C++
# library of macOS and the BSDs). Each runs the command-line suite and the
# sample round trip through glyphor-preview.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev \
    crossbuild-essential-arm64 libc6-dev-arm64-cross qemu-user clang libc++-dev libc++abi-dev

suite=$(host_cli_suite)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cmake --workflow --preset aarch64
bin="$PWD/build/aarch64"
readelf -h "$bin/glyphor" | grep -q 'AArch64' || { echo "not an aarch64 program"; exit 1; }
runner=(qemu-aarch64 -L /usr/aarch64-linux-gnu)
"$suite" --program="$bin/glyphor" --runner="${runner[*]}"
sample_round_trip "$bin" "$scratch" "${runner[@]}"

# Linked dynamically, as macOS links every program: the program loads the
# system's libc++.
cmake --workflow --preset libcxx
bin="$PWD/build/libcxx"
for program in glyphor glyphor-preview; do
    readelf -d "$bin/$program" | grep -q 'Shared library: \[libc++\.so' ||
        { echo "$program is not linked with libc++"; exit 1; }
done
"$suite" --program="$bin/glyphor"
sample_round_trip "$bin" "$scratch"
