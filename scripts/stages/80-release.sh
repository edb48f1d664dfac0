# The release build as the README makes it. What a full 256-tile conversion
# costs against /bin/true in whole-process instructions (callgrind counts, the
# same from run to run), what pack_charset itself costs a pixel, and the size
# of the stripped program must stay within their limits: at most 1.10 times,
# at most 6.00 instructions a pixel, at most 800 KiB (and glyphor.exe at most
# 64 KiB, when the Windows stage has built it).
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ binutils valgrind
cmake --workflow --preset sample
bench/instructions.sh --check-limits build/release/glyphor examples/tileset.bmp
