# The native build: unit tests, the command-line suite against this build's
# program, and the sample tileset check.
#
# The write path tests (tests/write_path_test.cpp) link the write path with
# its calls wrapped (write, fsync, renameat, fstatat64, flistxattr, fchmod and
# the hidden name's random draw), so that one fails at a chosen moment while
# the test does what another program could do then (save its own file under
# the output's name, or turn the name into a link to the console's file).
# Each row is run twice on the same set-up, by glyphor's write path and by
# fopen(name, "wb"), and must end as "wb" ends or in the sounder way named:
# an ACL and user.* attributes, a folder's default ACL, chattr's flags and an
# append-only folder, a bind-mounted file, a rootless user namespace, no /proc,
# another user's file, a device or a FIFO in a sticky folder (the kernel's own
# guards judge), a name renamed over meanwhile, a closed standard input, a
# running program, names at their limits, full disks (a small tmpfs, ext4 with
# 1 KiB blocks, no free inode), an XFS project, a signal during the flush and
# the console's own terminal. Those that need root or a file system with ACLs
# and flags say so and are left out elsewhere; CI runs as root and runs them all.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ googletest libgtest-dev libgmock-dev xfsprogs
write_path_needs native
cmake --workflow --preset test
