# The portable build: a Linux release build with every Linux-only file access
# path switched off at configure time (GLYPHOR_PORTABLE), as macOS and the
# BSDs build it, so that the fallbacks those systems take run here: the unit
# tests and the command-line suite against this build's glyphor, then the
# faults stage's runner over its programs.
# It proves nothing of those systems' own C libraries, only that the code which
# does without Linux's calls works, here. About 4 minutes from a fresh build
# folder, most of it the build and the faults runner.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev strace python3 util-linux acl
write_path_needs portable
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
echo "portable: the tests of ACLs, attributes and chattr's flags are not built here: this build reads none of them, as on the BSDs"
cmake --workflow --preset portable
grep -qx 'GLYPHOR_PORTABLE:BOOL=ON' build/portable/CMakeCache.txt ||
    { echo "build/portable is not configured with GLYPHOR_PORTABLE=ON"; exit 1; }
# Debian's Python, whatever else is called python3 on this machine.
/usr/bin/python3 scripts/faults.py build/portable
