# The native build: unit tests, the command-line suite against this build's
# program, and the sample tileset check.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev xfsprogs
write_path_needs native
cmake --workflow --preset test
