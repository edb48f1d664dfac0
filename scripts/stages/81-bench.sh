# The packing benchmark builds and runs. Its speed is printed, never judged.
# Debian builds the benchmark library with its assertions on, and the library
# says so in a warning that "Library was built as DEBUG": that is the timing
# harness around pack_charset, which itself is built as the release is.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ libbenchmark-dev strace
cmake --workflow --preset bench
echo "bench: Debian's benchmark library is built with its assertions on; its warning of a DEBUG build is about the library, not the packer"
build/bench/bench/pack_benchmark --benchmark_min_time=0.01
# 200 conversions against 200 copies by cp: the CPU ratio is held to its limit,
# the wall times (which move with the machine's load) are only reported.
cmake --workflow --preset sample >/dev/null
/usr/bin/python3 bench/cpu.py --check-limits build/release/glyphor
