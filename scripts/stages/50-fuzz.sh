# A bounded libFuzzer run over the reader and the packer, from a seed corpus
# of valid tilesets and near-misses. Any crash, leak, sanitizer report, model
# mismatch or slow input fails the stage and leaves the input in build/fuzz/.
#
#   GLYPHOR_FUZZ_SECONDS=3600 scripts/test fuzz   runs it longer (default 60 s)
set -euo pipefail
. scripts/lib.sh
need_packages cmake make clang libclang-rt-14-dev llvm g++ googletest libgtest-dev libgmock-dev
cmake --preset fuzz
cmake --build --preset fuzz
fuzz=build/fuzz
rm -rf "$fuzz/seeds"
"$fuzz/fuzz/make_seed_corpus" "$fuzz/seeds"
mkdir -p "$fuzz/corpus"  # what the fuzzer learns; kept between local runs
"$fuzz/fuzz/tileset_fuzzer" -max_total_time="${GLYPHOR_FUZZ_SECONDS:-60}" -max_len=65536 \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$fuzz/" "$fuzz/corpus" "$fuzz/seeds"
