# The release build as the README makes it, and what a full 256-tile
# conversion costs against /bin/true in whole-process instructions
# (callgrind counts, the same from run to run): at most twice as much.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ valgrind
cmake --workflow --preset sample
bench/instructions.sh --max-ratio=2 build/release/glyphor examples/tileset.bmp
