# Every system call both release programs make after start-up, failed in turn
# under strace's fault injection (and again with each call the program makes
# after a failure failed too), and both programs short of memory under
# prlimit: every run must end as the README and the manual pages promise.
# scripts/faults.py says how the points are counted and what is checked.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ strace python3 util-linux acl
cmake --workflow --preset sample
# Debian's Python, whatever else is called python3 on this machine.
/usr/bin/python3 scripts/faults.py build/release
