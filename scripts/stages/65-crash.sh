# A crash right after a conversion: on an XFS image, loop-mounted, the release
# glyphor converts the sample over an old charset, the file system is shut
# down at once as a power cut would leave it (xfs_io's shutdown -f: what the
# log holds survives, what only the page cache holds is lost), then mounted
# again. The charset must come back whole, the old one or the new one, in
# every run: a rename that reaches the disk before the new bytes leaves an
# empty file. Needs root, loop devices and XFS, which a VM or a privileged
# container gives; where one is missing, the stage says so and passes without
# running, except in CI, where it fails.
#
#   GLYPHOR_CRASH_RUNS=200 scripts/test crash   crashes more often (default 30)
#
# Each run writes an old charset (2,048 bytes of 0x5A) and syncs it, converts
# the sample over it, shuts the 320 MB sparse image's file system down and
# mounts it again, then compares the file with the old charset and
# build/release/sample-charset.bin, and it prints how often each came back. It
# takes 15 to 45 seconds.
set -euo pipefail
. scripts/lib.sh

cannot_run() {
    lacking crash "$1"
    exit 0
}
echo "crash: needs root, a loop device and XFS (a VM or a privileged container gives them)"
[ "$(id -u)" -eq 0 ] || cannot_run "root (a loop mount and an XFS shutdown)"
need_packages cmake make g++ xfsprogs mount util-linux
cmake --workflow --preset sample
program="$PWD/build/release/glyphor"
new="$PWD/build/release/sample-charset.bin"
[ "$(stat -c %s "$new")" -eq 2048 ] || { echo "crash: $new is not a 256-tile charset"; exit 1; }

scratch=$(mktemp -d)
mnt="$scratch/mnt"
loop=
cleanup() {
    mountpoint -q "$mnt" && umount "$mnt"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir "$mnt"
# XFS asks for 300 MB at least; the image is sparse, so it takes little room.
truncate -s 320M "$scratch/xfs.img"
mkfs.xfs -q "$scratch/xfs.img"
loop=$(losetup -f --show "$scratch/xfs.img" 2>/dev/null) || cannot_run "a loop device, and none can be set up here"
mount -t xfs "$loop" "$mnt" 2>/dev/null || cannot_run "an XFS mount, and none can be made here"

# The old charset: the same size as the new one, every byte 0x5A.
head -c 2048 /dev/zero | tr '\0' '\132' >"$scratch/old.bin"
runs=${GLYPHOR_CRASH_RUNS:-30}
came_back_old=0
came_back_new=0
came_back_torn=0
for ((run = 1; run <= runs; run++)); do
    cp "$scratch/old.bin" "$mnt/c.bin"
    sync -f "$mnt/c.bin"
    "$program" examples/tileset.bmp "$mnt/c.bin" 256 >"$scratch/run.log" ||
        { cat "$scratch/run.log"; echo "crash: run $run: glyphor failed"; exit 1; }
    xfs_io -x -c 'shutdown -f' "$mnt"
    umount "$mnt"
    mount -t xfs "$loop" "$mnt"
    if cmp -s "$mnt/c.bin" "$new"; then
        came_back_new=$((came_back_new + 1))
    elif cmp -s "$mnt/c.bin" "$scratch/old.bin"; then
        came_back_old=$((came_back_old + 1))
    else
        came_back_torn=$((came_back_torn + 1))
        echo "crash: run $run: c.bin came back neither the old charset nor the new one:" \
            "$(stat -c %s "$mnt/c.bin") bytes$(od -An -tx1 -N8 "$mnt/c.bin" | sed 's/^ */, starting /')"
    fi
done
echo "crash: $runs crashes right after a conversion; c.bin came back: the old charset" \
    "$came_back_old times, the new one $came_back_new times, neither $came_back_torn times"
[ "$came_back_torn" -eq 0 ] && [ $((came_back_old + came_back_new)) -eq "$runs" ]
