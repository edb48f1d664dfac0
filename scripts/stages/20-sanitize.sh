# Every unit and command-line test, built with clang++ under AddressSanitizer
# and UndefinedBehaviorSanitizer (leak checks included, no recovery). The
# command-line suite fails on any report, since a report goes to standard error.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make clang libclang-rt-14-dev llvm g++ googletest libgtest-dev libgmock-dev
cmake --workflow --preset sanitize
