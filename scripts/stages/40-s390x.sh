# Byte order: the program cross-built for s390x, a big-endian host, runs the
# command-line suite under qemu-user.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev \
    crossbuild-essential-s390x libc6-dev-s390x-cross qemu-user

cmake --workflow --preset s390x
program="$PWD/build/s390x/glyphor"
readelf -h "$program" | grep -q 'big endian' || { echo "not a big-endian program"; exit 1; }

suite=$(host_cli_suite)
"$suite" --program="$program" --runner="qemu-s390x -L /usr/s390x-linux-gnu"
