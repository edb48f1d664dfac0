# Every unit and command-line test, built with clang++ under AddressSanitizer
# and UndefinedBehaviorSanitizer (leak checks included, no recovery), but the
# two that make memory run out, which the preset leaves out of the build (the
# native stage runs them). The command-line suite fails on any report, since a
# report goes to standard error.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make clang libclang-rt-14-dev llvm g++ googletest libgtest-dev libgmock-dev xfsprogs
write_path_needs sanitize
echo "sanitize: the two out-of-memory tests are not built here: AddressSanitizer replaces malloc and cannot start under their memory limits; the native stage runs them"
cmake --workflow --preset sanitize
