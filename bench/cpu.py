#!/usr/bin/python3
"""200 conversions of a tileset over an old charset, beside 200 copies of the
same charset over an old one by cp, in one folder on the disk the tree is on:
the CPU time (user and system) of each, as a ratio, and their wall times;
then the wall time that flushing the new file to the disk (fsync) adds to a
conversion, as strace -T times the call in 20 more.

    bench/cpu.py [--check-limits] [PROGRAM [TILESET]]

With --check-limits the status is 1 when the conversions cost more CPU than
the copies. Wall times on a shared machine move with its load: reported only.
"""

import os
import re
import resource
import subprocess
import sys
import tempfile
import time

RUNS = 200
LIMIT = 1.0


def measure(commands):
    """CPU seconds (user and system) and wall seconds of the commands, run in turn."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    for command in commands:
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), wall


def main():
    args = sys.argv[1:]
    check = "--check-limits" in args
    args = [a for a in args if a != "--check-limits"]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    program = os.path.abspath(args[0] if args else os.path.join(root, "build/release/glyphor"))
    tileset = os.path.abspath(args[1] if len(args) > 1 else os.path.join(root, "examples/tileset.bmp"))
    os.makedirs(os.path.join(root, "build"), exist_ok=True)
    with tempfile.TemporaryDirectory(dir=os.path.join(root, "build")) as folder:
        charset = os.path.join(folder, "charset.bin")
        copy = os.path.join(folder, "copy.bin")
        subprocess.run([program, tileset, charset], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cp", charset, copy], check=True)
        glyphor_cpu, glyphor_wall = measure([[program, tileset, charset]] * RUNS)
        cp_cpu, cp_wall = measure([["cp", charset, copy]] * RUNS)
        flushes = []
        for _ in range(20):
            traced = subprocess.run(["strace", "-T", "-e", "trace=fsync", program, tileset, charset],
                                    check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                    text=True).stderr
            flushes += [float(t) for t in re.findall(r"^fsync\(.*<([0-9.]+)>$", traced, re.M)]
    ratio = glyphor_cpu / cp_cpu if cp_cpu > 0 else float("inf")
    print(f"{RUNS} conversions: {glyphor_cpu:.3f} s CPU, {glyphor_wall:.3f} s wall")
    print(f"{RUNS} copies (cp):  {cp_cpu:.3f} s CPU, {cp_wall:.3f} s wall")
    print(f"CPU ratio:          {ratio:.2f} (limit {LIMIT:.2f})")
    if flushes:
        print(f"fsync:              {sum(flushes) / len(flushes) * 1000:.2f} ms a conversion"
              f" (mean of {len(flushes)}, longest {max(flushes) * 1000:.2f} ms)")
    return 1 if check and ratio > LIMIT else 0


if __name__ == "__main__":
    sys.exit(main())
