# The packing benchmark builds and runs. Its speed is printed, never judged.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ libbenchmark-dev
cmake --workflow --preset bench
build/bench/bench/pack_benchmark --benchmark_min_time=0.01
