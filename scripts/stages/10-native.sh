# The native build: unit tests, the command-line suite against this build's
# program, and the sample tileset check.
#
# The write path tests (tests/write_path_test.cpp) link the write path with
# its calls wrapped (write, fsync, renameat, fstatat64, flistxattr, ioctl and
# the hidden name's random draw), so that one fails at a chosen moment while
# the test does what another program could do then (save its own file under
# the output's name, or turn the name into a link to the console's file).
# They also hold what a rename must not change: an ACL and user.* attributes,
# a folder's default ACL, chattr's flags and an append-only folder, a bind-
# mounted file, a rootless user namespace, no /proc, another user's file
# replaced by root, a running program, names at their limits, the kernel's
# sticky-folder guards (set for a moment and put back, each case checked
# against what fopen(name, "wb") does), a small tmpfs full of bytes or of
# files, a signal during the flush, and the console's own terminal. Those that
# need root or a file system with ACLs and flags say so and are left out
# elsewhere; CI runs as root on ext4 and runs them all.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev xfsprogs
write_path_needs native
cmake --workflow --preset test
