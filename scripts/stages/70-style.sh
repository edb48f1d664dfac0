# clang-format and clang-tidy over every C++ file in the tree (whatever git
# tracks or would track; build outputs are ignored), with the committed
# .clang-format and .clang-tidy. Any difference or finding fails the stage.
set -euo pipefail
. scripts/lib.sh
need_packages git cmake make clang clang-format clang-tidy libclang-rt-14-dev g++ googletest libbenchmark-dev \
    libgtest-dev libgmock-dev

mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- \
    '*.cpp' '*.cc' '*.cxx' '*.h' '*.hpp' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ ${#sources[@]} -gt 0 ] || { echo "no C++ files found"; exit 1; }
echo "clang-format: ${#sources[@]} files"
clang-format --dry-run -Werror "${sources[@]}"

# The database lists every program, test and fuzzer source; a file that is in
# no target (built only on another system) borrows a neighbour's flags.
# Headers are checked through the sources that include them. Only findings are
# printed: --quiet leaves out the count of what the header filter dropped, and
# -fno-caret-diagnostics the compiler's own "N warnings generated." (which
# counts those too); clang-tidy prints its findings with their source lines
# all the same.
cmake --preset tidy >/dev/null
# The Windows side (*_windows.cpp) is built only by mingw-w64, whose headers
# clang cannot parse: the Windows stage compiles it with every warning an error.
units=()
for f in "${sources[@]}"; do
    [[ "$f" == *.h || "$f" == *.hpp || "$f" == *_windows.cpp ]] || units+=("$f")
done
echo "clang-tidy: ${#units[@]} files"
printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 1 clang-tidy -p build/tidy --quiet \
    --extra-arg=-fno-caret-diagnostics
