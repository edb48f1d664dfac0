# Every system call both release programs make after start-up, failed in turn
# under strace's fault injection (and again with each call the program makes
# after a failure failed too), and both programs short of memory under
# prlimit: every run must end as the README and the manual pages promise.
# scripts/faults.py says how the points are counted and what is checked.
#
# The scenarios: glyphor into a new, an existing, a symbolically linked and a
# hard-linked output, another user's output in a folder with a default ACL (as
# root, so that the owner, mode and attribute calls are made), from /dev/stdin
# as a pipe, into /dev/stdout when that is the console's own pipe (refused),
# with a count of 0, and with the tileset as its own output; glyphor-preview
# into a new and an existing picture and into a pipe. Each runs once without a
# fault under strace -f; every call from the first rt_sigaction on (main's
# first act) is an injection point, failed alone with each error it can return
# (faults.py's ERRORS); a call the program gains is counted without an edit.
# Where a fault makes the program fail and go on, or take other calls than
# without it (a clean-up, a fallback), each call it makes after the fault is
# failed in turn as a second fault. Then prlimit --data runs each scenario from
# the least limit at which the program reaches main up, a page at a time,
# until it succeeds or refuses its output.
#
# Every run must end as README.md and the manual pages say: no signal, status
# 0 or 1, the banner and the message of the outcome the manual maps to the
# step the failed call belongs to (before the output is opened, the tileset's;
# from its opening to its first byte, the creating one; from there on, the
# writing one; out of memory anywhere), every text from src/messages.h (and
# glyphor-preview's from preview/preview_messages.h); the output exactly
# right on success and on the disk (an fsync of it succeeded after its last
# write), replaced, not written in place, when nothing failed,
# and on failure as it was (or absent), or empty where glyphor wrote in place;
# no other file below the scenario's folder created, changed or removed (but a
# temporary whose removal was itself failed), nor /dev/stdin, /dev/stdout or a
# temporary beside them (the cases that name them run one at a time, and what
# one changes there is put back). A failed write of the console text itself
# may lose that text. Short of memory, the only failure allowed is the
# out-of-memory message.
#
# Left out, on purpose: what the static C library does before main (thread-
# local storage, the heap's first brk, /proc/self/exe, getrandom), which cannot
# start without memory and reports nothing; brk, which the kernel never fails
# with an error code (it returns the old break, which malloc reads as no
# memory), so prlimit makes memory run out for real instead; two different
# errors on calls of one name, since strace 6.1 keeps one injection a name
# (such pairs share the first fault's error; the stage counts the rest).
#
# It prints each failing run as a command that sets its scenario up in a
# scratch folder and runs it again there, its standard output into a pipe as
# here (a terminal would buffer by lines, which changes the writes); `grep
# INJECTED` on its trace shows the failed calls, and when= counts from the
# process start. Then `N passed, N failed`; the stage also fails when fewer
# points were injected than counted. It takes about four minutes.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ strace python3 util-linux acl
cmake --workflow --preset sample
# Debian's Python, whatever else is called python3 on this machine.
/usr/bin/python3 scripts/faults.py build/release
