# Valgrind memcheck over the program on every path the command-line suite
# takes (success and each failure), and over the driver's out-of-memory paths:
# no memory error, no leak of any kind, no file left open.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev valgrind
cmake --preset test
cmake --build --preset test

logs=$(mktemp -d)
memcheck="valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all
    --errors-for-leak-kinds=all --track-fds=yes --error-exitcode=99 -q"

clean=yes
# The suite expects an empty standard error, so each run reports into its own
# file; a finding also changes the exit status the suite checks.
build/test/tests/cli_tests --program="$PWD/build/test/glyphor" \
    --runner="$memcheck --log-file=$logs/cli-%p.log" || clean=no
# The allocation failure test replaces malloc in its own executable: memcheck
# must leave that replacement in place and track the heap below it.
$memcheck --soname-synonyms=somalloc=nouserintercepts --log-file="$logs/alloc-%p.log" \
    build/test/tests/alloc_failure_tests || clean=no

# A clean log holds only the file descriptor summary, and every descriptor
# still open at exit was inherited (standard streams, the test's own files).
count=0
for log in "$logs"/*.log; do
    count=$((count + 1))
    if ! grep -q 'FILE DESCRIPTORS:' "$log" ||
        grep -vqE '^==[0-9]+== *(FILE DESCRIPTORS: .*|Open file descriptor .*|<inherited from parent>)?$' "$log"; then
        echo "memcheck: $log"
        cat "$log"
        clean=no
    fi
done
echo "memcheck: $count runs checked"
[ "$clean" = yes ] && [ "$count" -gt 1 ] && rm -rf "$logs"
