#!/usr/bin/python3
"""Fails every system call glyphor and glyphor-preview make after start-up,
one at a time and in pairs, under strace's fault injection, runs both programs
short of memory under prlimit, and checks every run against what the README
and the manual pages promise.

    scripts/faults.py BUILD_DIR     (BUILD_DIR holds glyphor and glyphor-preview)

Every call after the first rt_sigaction (main's first act) of a run without a
fault, but brk and exit_group, is failed with each error it can return; after a
single fault the program reacts to, each call it made after it is failed too.

Prints every failing run as a command to paste, then `N passed, N failed`;
exits non-zero when a run failed or fewer points were injected than counted.
"""

import bisect
import collections
import concurrent.futures
import contextlib
import dataclasses
import os
import re
import shlex
import stat
import subprocess
import sys
import tempfile
import threading

import messages

SAYS, PREVIEW = messages.table(), messages.table(messages.PREVIEW)  # each program's own table

WRITES = {"write", "pwrite64", "writev", "pwritev", "pwritev2"}
READS = {"read", "pread64", "readv", "preadv", "preadv2"}
OPENS = {"open", "openat", "openat2", "creat"}
# brk never fails with an error code (it returns the old break instead), and
# exit_group does not return.
NOT_INJECTED = {"brk", "exit_group"}
# The errors a call can really return, by what it does, after EIO for any call; the calls
# whose refusal sends the output another way (written in place when its owner, attributes
# or place cannot be given to a new file) with the errors that do.
ERRORS = [(WRITES | {"fsync"}, ["ENOSPC", "EDQUOT"]), (OPENS, ["EACCES", "EMFILE", "ENOMEM"]),
          (READS | WRITES | {"close"}, ["EINTR"]), ({"fchown"}, ["EPERM", "EINVAL", "ENOSYS"]),
          ({"fchmod"}, ["EPERM"]), ({"flistxattr"}, ["EOPNOTSUPP", "ERANGE"]),
          ({"fgetxattr"}, ["ENODATA", "ERANGE"]), ({"renameat"}, ["EBUSY", "EPERM"]),
          ({"rt_sigprocmask"}, ["EINVAL"])]


def errors_of(name):
    # getrandom, asked to block, fails only by a signal on a kernel with statx (4.11), which
    # glyphor needs; the C library's arc4random (a portable build's) aborts on the others.
    if name == "getrandom":
        return ["EINTR"]
    return ["EIO"] + [e for names, errors in ERRORS if name in names for e in errors]


UMASK = 0o022
FIELDS = ("kind", "inode", "mode", "links", "bytes", "target", "mtime")  # an entry's
TIMEOUT = 60


@dataclasses.dataclass(eq=False)
class Scenario:
    name: str
    setup: list  # shell commands that fill an empty folder
    program: str = "glyphor"  # or "glyphor-preview"
    args: tuple = ("tileset.bmp", "charset.bin")
    # What the run may change: ("file", PATH) a file replaced as a whole,
    # PATH being the file a symbolic link leads to; ("in place", PATHS) a
    # file written in place under all its names; ("stdout",) the charset or
    # picture into the standard output pipe; None: nothing.
    output: tuple = ("file", "charset.bin")
    stdin: str = None  # a file of the folder fed through a pipe
    tiles: int = 256
    refused: bool = False  # the output is refused without a fault


def scenarios(tileset, charset):
    old = "printf 'an older file\\n' >"
    base = [f"cp {shlex.quote(tileset)} tileset.bmp", "echo notes >notes.txt"]
    kept = base + [f"{old} charset.bin", "chmod 640 charset.bin"]
    preview = [f"cp {shlex.quote(charset)} charset.bin"]
    return [
        Scenario("new output", base),
        Scenario("existing output", kept),
        Scenario("symbolic link", base + ["mkdir target", f"{old} target/charset.bin",
                                          "chmod 640 target/charset.bin",
                                          "ln -s target/charset.bin charset.bin"],
                 output=("file", "target/charset.bin")),
        Scenario("hard link", kept + ["seq 999 >>charset.bin", "ln charset.bin other.bin"],
                 output=("in place", ["charset.bin", "other.bin"])),
        Scenario("tileset from a pipe", base, args=("/dev/stdin", "charset.bin"),
                 stdin="tileset.bmp"),
        Scenario("charset into the console's pipe", base, args=("tileset.bmp", "/dev/stdout"),
                 output=None, refused=True),
        Scenario("count of 0", base + [f"{old} charset.bin"],
                 args=("tileset.bmp", "charset.bin", "0"), output=None, tiles=0),
        Scenario("tileset as output", base + ["chmod 640 tileset.bmp"],
                 args=("tileset.bmp", "tileset.bmp"), output=("file", "tileset.bmp")),
    ] + [Scenario(name, preview + setup, "glyphor-preview", ("charset.bin", out), output)
         for name, setup, out, output in [
             ("new picture", [], "preview.bmp", ("file", "preview.bmp")),
             ("existing picture", [f"{old} preview.bmp", "chmod 640 preview.bmp"],
              "preview.bmp", ("file", "preview.bmp")),
             ("picture into a pipe", [], "/dev/stdout", ("stdout",))]
    ] + ([  # giving a file to its owner needs root
        Scenario("another's output, a default ACL",
                 kept[:2] + ["setfacl -d -m u:65534:rw ."] + kept[2:] +
                 ["chown 1234:1234 charset.bin"]),
    ] if os.geteuid() == 0 else [])


# --- Running a case -------------------------------------------------------

@dataclasses.dataclass
class Call:
    name: str
    when: int  # how many calls of its name up to this one, from process start
    text: str  # the whole line, without the pid

    @property
    def injected(self):
        return self.text.endswith("(INJECTED)")


@dataclasses.dataclass
class Run:
    status: int = None  # exit status, or None when it did not exit
    stdout: bytes = b""
    stderr: bytes = b""
    calls: list = dataclasses.field(default_factory=list)
    problem: str = None  # the run went wrong (a signal, no trace, timed out)

    def find(self, accepts, start=0):
        """The index of the first call from start on that accepts takes, or the end."""
        return next((i for i in range(start, len(self.calls)) if accepts(self.calls[i])),
                    len(self.calls))

    def injected(self):
        return sorted((c.name, c.when) for c in self.calls if c.injected)


CALL = re.compile(r"^(?:\d+ +)?([a-z_][a-z0-9_]*)\(")
EXITED = re.compile(r"^(?:\d+ +)?\+\+\+ exited with (\d+) \+\+\+$")
KILLED = re.compile(r"^(?:\d+ +)?\+\+\+ killed by (SIG\w+)")


def parse_trace(path, run):
    seen = collections.Counter()
    with open(path, errors="replace") as trace:
        for line in trace.read().splitlines():
            if match := CALL.match(line):
                seen[match[1]] += 1
                run.calls.append(Call(match[1], seen[match[1]], line[match.start(1):]))
            elif match := EXITED.match(line):
                run.status = int(match[1])
            elif match := KILLED.match(line):
                run.problem = f"ended by {match[1]}"
    if run.status is None and run.problem is None:
        run.problem = "the trace does not say how the program ended"


class Harness:
    def __init__(self, build, root, scratch):
        self.programs = {p: os.path.join(build, p) for p in ("glyphor", "glyphor-preview")}
        self.scratch = scratch
        self.devices = threading.Lock()
        self.tileset = os.path.join(root, "examples", "tileset.bmp")

    def command(self, sc, faults, limit, trace):
        """faults: [(name, error, when)], at most two. strace keeps one
        injection a name: two on one name become one range with the first
        error, its step leading from the first straight to the second."""
        if len(faults) == 2 and faults[0][0] == faults[1][0]:
            (name, error, first), (_, _, second) = faults
            faults = [(name, error, f"{first}..{second}+{second - first}")]
        injections = [o for name, error, when in faults
                      for o in ("-e", f"inject={name}:error={error}:when={when}")]
        limited = ["prlimit", f"--data={limit}"] if limit is not None else []
        return ["strace", "-f", "-o", trace, *injections, *limited, self.programs[sc.program],
                *sc.args]

    def run(self, sc, faults=(), limit=None):
        """Runs a case in a folder of its own: returns (run, before, after),
        the folder's entries before and after the run. A case that names a
        file in /dev sees the links there too; such cases run one at a time,
        and what one of them changed in /dev is put back after it."""
        devices = any(arg.startswith("/dev/") for arg in sc.args)
        with self.devices if devices else contextlib.nullcontext():
            links = device_links(devices)
            with tempfile.TemporaryDirectory(dir=self.scratch, ignore_cleanup_errors=True) as home:
                run, before, after = self.run_in_folder(sc, faults, limit, home)
            links_after = device_links(devices)
            restore_device_links(links, links_after)
        return run, {**before, **links}, {**after, **links_after}

    def run_in_folder(self, sc, faults, limit, home):
        folder, trace = os.path.join(home, "w"), os.path.join(home, "trace")
        os.mkdir(folder)
        subprocess.run(["bash", "-euc", "\n".join(sc.setup)], cwd=folder, check=True)
        before = snapshot(folder)
        run = Run()
        stdin = subprocess.DEVNULL
        if sc.stdin is not None:
            # The whole tileset waits in the pipe (it fits its buffer) before the program
            # starts, so it reads it in the same calls every time.
            stdin, write_end = os.pipe()
            with open(os.path.join(folder, sc.stdin), "rb") as source:
                os.write(write_end, source.read())
            os.close(write_end)
        try:
            done = subprocess.run(self.command(sc, faults, limit, trace), cwd=folder,
                                  stdin=stdin, capture_output=True, timeout=TIMEOUT)
            run.stdout, run.stderr = done.stdout, done.stderr
            if os.path.exists(trace):
                parse_trace(trace, run)
            else:
                run.problem = f"strace did not run: {done.stderr.decode(errors='replace')}"
        except subprocess.TimeoutExpired:
            run.problem = f"still running after {TIMEOUT} s"
        finally:
            if sc.stdin is not None:
                os.close(stdin)
        return run, before, snapshot(folder)

    def reproduce(self, sc, faults, limit):
        """A command that sets the scenario up in a scratch folder and runs
        the case there, with the same kinds of standard streams."""
        line = " ".join('"$d/trace"' if a == "@TRACE@" else shlex.quote(a)
                        for a in self.command(sc, faults, limit, "@TRACE@"))
        if sc.stdin is not None:
            # Filled before the program reads, as in the stage.
            line = f"cat {shlex.quote(sc.stdin)} | {{ sleep 0.2; {line}; }}"
        shown = 'cat -v "$d/out" | tail -c 600' if sc.output == ("stdout",) else 'cat "$d/out"'
        steps = ['d=$(mktemp -d)', 'mkdir "$d/w"', 'cd "$d/w"', f"umask {UMASK:03o}",
                 *sc.setup, f'{line} | cat >"$d/out"']
        return (f'(set -o pipefail; {" && ".join(steps)}; echo "status $?"; {shown}; ls -laR;'
                ' grep INJECTED "$d/trace")')


# --- What the docs promise ------------------------------------------------

def entry(path):
    """A file's kind, inode, mode, links, and its bytes or link target."""
    info = os.lstat(path)
    found = {"kind": stat.S_IFMT(info.st_mode), "inode": info.st_ino,
             "mode": stat.S_IMODE(info.st_mode), "links": info.st_nlink}
    if stat.S_ISREG(info.st_mode):
        with open(path, "rb") as file:
            found["bytes"] = file.read()
        found["mtime"] = info.st_mtime_ns
    elif stat.S_ISLNK(info.st_mode):
        found["target"] = os.readlink(path)
    return found


def snapshot(folder):
    """Every entry below folder, by its path from there."""
    paths = (os.path.join(top, name) for top, folders, files in os.walk(folder)
             for name in folders + files)
    return {os.path.relpath(path, folder): entry(path) for path in paths}


def device_links(devices):
    """What a program reaches /dev/stdin and /dev/stdout by, and any
    temporary beside them: a write path that took /dev/stdout for a file
    would replace it for the whole machine."""
    return {f"/dev/{name}": entry(f"/dev/{name}") for name in os.listdir("/dev") if devices and
            (name in ("stdin", "stdout", "stderr", "fd") or name.startswith(".glyphor-"))}


def restore_device_links(before, after):
    for path, found in before.items():
        if after.get(path) != found and found["kind"] == stat.S_IFLNK:
            if os.path.lexists(path):
                os.unlink(path)
            os.symlink(found["target"], path)
    for path in after.keys() - before.keys():
        os.unlink(path)


@dataclasses.dataclass
class Oracle:
    charset: bytes
    picture: bytes

    def texts(self, sc):
        """The success text, and the failure text of each outcome, of the scenario's program."""
        if sc.program == "glyphor-preview":
            charset, picture = sc.args
            unwritten = PREVIEW["write_failed"] % picture
            return (PREVIEW["shows_tiles"] % (picture, 256, charset),
                    {"open_failed": PREVIEW["read_failed"] % charset, "create_failed": unwritten,
                     "write_failed": unwritten, "out_of_memory": PREVIEW["out_of_memory"]})
        tileset, output, n = sc.args[0], sc.args[1], sc.tiles
        return (SAYS["success_1"] % (output, n, n * 8) + SAYS["success_2"],
                {o: SAYS[o] % v for o, v in [("open_failed", (tileset,)), ("not_bmp", ()),
                                             ("create_failed", (output,)),
                                             ("write_failed", (output,)), ("out_of_memory", ())]})

    def console_lost(self, sc, run):
        """True when an injected fault failed the write of the console text
        itself: that text is gone, and the docs still call a charset written
        to a file a success."""
        start = SAYS["banner"] if sc.program == "glyphor" else self.texts(sc)[0]
        text = start[:16].replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
        return any(c.injected and c.text.startswith(f'{console(sc)} "{text}') for c in run.calls)

    def allowed_failures(self, sc, run, memory):
        """The failure texts a run may end with: after no fault, any; else the
        ones the man pages map to the steps the injected calls belong to:
        before the output is opened, the input's; from its opening to the
        output's first byte, the creating one; from there on, the writing one.
        Out of memory belongs to every step, and so does the refusal of an
        output refused anyway; short of memory, nothing else does."""
        failures = self.texts(sc)[1]
        if not memory and not run.injected():
            return list(failures.values())
        output = '"' + sc.args[1] + '"'
        opened = run.find(lambda c: output in c.text and ("O_WRONLY" in c.text or "stat" in c.name))
        first_byte = run.find(lambda c: writes_output(sc, c), opened)
        first_cut = run.find(lambda c: c.name == "ftruncate")
        steps = [("open_failed", "not_bmp"), ("create_failed",), ("write_failed",)]
        outcomes = {"out_of_memory"} | ({"create_failed"} if sc.refused else set())
        for i, call in enumerate(run.calls):
            # Writing in place starts with a cut, which is still the creating step.
            if call.injected:
                outcomes.update(steps[0 if i < opened else
                                      1 if i < first_byte or i == first_cut else 2])
        return [text for outcome, text in failures.items() if outcome in outcomes]

    def check(self, sc, run, before, after, memory):
        if run.problem or run.status not in (0, 1):
            return [run.problem or f"exit status {run.status}"]
        problems, ok, glyphor = [], run.status == 0, sc.program == "glyphor"
        expected = self.charset[: sc.tiles * 8] if glyphor else self.picture
        # The console's text, and what the standard output pipe carried.
        text, piped = (run.stdout, b"") if glyphor else (run.stderr, run.stdout)
        other = run.stderr if glyphor else (b"" if sc.output == ("stdout",) else run.stdout)
        if other:
            problems.append(f"unexpected {'standard error' if glyphor else 'standard output'}:"
                            f" {other[:200]!r}")
        if glyphor and sc.output == ("stdout",):
            # Charset and console text share the pipe, the text from the banner on.
            at = text.find(SAYS["banner"].encode()) % (len(text) + 1)  # -1: none
            piped, text = text[:at], text[at:]
        wanted = [self.texts(sc)[0]] if ok else self.allowed_failures(sc, run, memory)
        wanted = [((SAYS["banner"] if glyphor else "") + w).encode() for w in wanted]
        if text not in wanted and not (text == b"" and self.console_lost(sc, run)):
            problems.append(f"status {run.status} with the text {text.decode(errors='replace')!r}")
        writes = [i for i, c in enumerate(run.calls) if writes_output(sc, c)]
        if sc.output == ("stdout",):
            if ok and piped != expected:
                problems.append(f"status 0, but the pipe got {len(piped)} bytes, not the"
                                f" {len(expected)} expected")
            if not ok and not expected.startswith(piped):
                problems.append("the pipe got bytes that are not the start of the output")
        elif ok and writes:
            # A file is written once its bytes are on the disk (only then is it renamed into
            # place): its last write is followed by an fsync of it that succeeded.
            file = descriptor(run.calls[writes[-1]])
            if not any(c.name == "fsync" and descriptor(c) == file and c.text.endswith("= 0")
                       for c in run.calls[writes[-1]:]):
                problems.append(f"status 0, but no fsync of {file} succeeded after its last write")
        return problems + self.check_files(sc, ok, expected, before, after, run)

    def check_files(self, sc, ok, expected, before, after, run):
        """A file written in place (the run cut it) may be left empty by a
        failure, or as it is when the cut itself was failed; a temporary whose
        removal was failed stays."""
        problems, failed = [], {c.name for c in run.calls if c.injected}
        in_place = any(c.name == "ftruncate" for c in run.calls)
        kind = sc.output[0] if sc.output else None
        outputs = sc.output[1] if kind == "in place" else sc.output[1:] if sc.output else ()
        for path in outputs:
            old, new = before.get(path), after.get(path)
            if new is None:
                if ok or old is not None:
                    problems.append(f"{path} is gone" if old else f"{path} was not created")
                continue
            if new["kind"] != stat.S_IFREG:
                problems.append(f"{path} is no longer a regular file")
                continue
            mode = old["mode"] if old else 0o666 & ~UMASK
            kept = old is not None and all(new[k] == old[k] for k in ("inode", "mode"))
            if ok:
                if new["bytes"] != expected:
                    problems.append(f"status 0, but {path} holds {len(new['bytes'])} bytes"
                                    " that are not the expected output")
                if new["mode"] != mode:
                    problems.append(f"{path} has mode {new['mode']:o}, not {mode:o}")
                if kind == "file" and old and not in_place and new["inode"] == old["inode"]:
                    problems.append(f"status 0, but {path} was written in place, not replaced")
            elif kind == "in place" or (in_place and old is not None):
                if not (kept and (new["bytes"] in (old["bytes"], b"") or "ftruncate" in failed)):
                    problems.append(f"status 1, and {path} (written in place) is neither"
                                    f" as it was nor empty: {len(new['bytes'])} bytes")
            elif old is None:
                problems.append(f"status 1, and {path} was created")
            elif not (kept and new["bytes"] == old["bytes"]):
                problems.append(f"status 1, and {path} is not as it was"
                                f" ({len(new['bytes'])} bytes; inode, mode or bytes changed)")
            if kind == "in place" and new["inode"] != old["inode"]:
                problems.append(f"{path}, written in place, is another file now")
        for path in sorted((before.keys() | after.keys()) - set(outputs)):
            old, new = before.get(path), after.get(path)
            if old is None:
                if not ("unlinkat" in failed and os.path.basename(path).startswith(".glyphor-")):
                    problems.append(f"left behind: {path}")
            elif new is None:
                problems.append(f"removed: {path}")
            # A folder's entries change as files come and go.
            elif any(old.get(k) != new.get(k)
                     for k in (FIELDS[:3] if old["kind"] == stat.S_IFDIR else FIELDS)):
                problems.append(f"changed: {path}")
        return problems


def console(sc):
    """How a write of the console's text starts in the trace."""
    return "write(1," if sc.program == "glyphor" else "write(2,"


def writes_output(sc, call):
    """True for a write of anything but the console's text."""
    return call.name in WRITES and not call.text.startswith(console(sc))


def descriptor(call):
    """The file descriptor a call was made on."""
    return re.match(r"\w+\((\d+)", call.text)[1]


# --- The stage --------------------------------------------------------------

def main():
    build = os.path.abspath(sys.argv[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.umask(UMASK)
    with tempfile.TemporaryDirectory(prefix="glyphor-faults.",
                                     ignore_cleanup_errors=True) as scratch:
        return stage(build, Harness(build, root, scratch))


def reference_outputs(harness, build):
    """The charset and picture of runs without a fault. The
    sample's charset, which the build made, is the pictures' charset: the
    commands printed for failures still find it once the stage is over."""
    folder = tempfile.mkdtemp(dir=harness.scratch)
    sample = os.path.join(build, "sample-charset.bin")
    made = []
    for program, source, output in [("glyphor", harness.tileset, "charset.bin"),
                                    ("glyphor-preview", sample, "preview.bmp")]:
        output = os.path.join(folder, output)
        subprocess.run([harness.programs[program], source, output], check=True,
                       capture_output=True)
        with open(output, "rb") as file:
            made.append(file.read())
    with open(sample, "rb") as file:
        if file.read() != made[0]:
            sys.exit(f"faults: {sample} is not the sample's charset")
    return Oracle(*made), sample


def stage(build, harness):
    oracle, charset_path = reference_outputs(harness, build)
    cases = scenarios(harness.tileset, charset_path)
    pool = concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 2)
    failures, judged = [], 0

    def run_all(runs, results=None):
        """Runs (unless given their results) and judges [(scenario, faults, limit)]: the
        runs, in their order."""
        nonlocal judged
        results = results or list(pool.map(lambda r: harness.run(*r), runs))
        for (sc, faults, limit), (run, before, after) in zip(runs, results):
            if problems := oracle.check(sc, run, before, after, limit is not None):
                failures.append((sc, faults, limit, problems))
        judged += len(runs)
        return [result[0] for result in results]

    # Runs without a fault: the injection points, every call from main's first on.
    clean = dict(zip(cases, run_all([(sc, (), None) for sc in cases])))
    points = {}  # scenario -> [(name, when)]
    for sc, run in clean.items():
        cut = run.find(lambda c: c.name == "rt_sigaction")
        if cut == len(run.calls):
            print(f"faults: {sc.name}: no rt_sigaction, so no start of main, in the trace")
            return 1
        points[sc] = [(c.name, c.when) for c in run.calls[cut:] if c.name not in NOT_INJECTED]
    counted = sum(len(p) for p in points.values())
    print(f"faults: {counted} injection points after start-up: " +
          ", ".join(f"{sc.name} {len(points[sc])}" for sc in cases))

    # Every point, every error; then, after each that was injected, the second faults.
    singles = [(sc, ((name, error, when),), None) for sc in cases for name, when in points[sc]
               for error in errors_of(name)]
    ran, pairs, left_out = set(), [], 0
    for (sc, (first,), _), run in zip(singles, run_all(singles)):
        if run.injected() == [(first[0], first[2])]:
            ran.add((sc, first[0], first[2]))
            more, skipped = second_faults(sc, first, run, clean[sc])
            pairs, left_out = pairs + more, left_out + skipped
    print(f"faults: {len(singles)} single faults, {len(ran)} of {counted} points injected")
    missed = sum(run.injected() != sorted((name, when) for name, _, when in faults)
                 for (_, faults, _), run in zip(pairs, run_all(pairs)))
    print(f"faults: {len(pairs)} fault pairs after a failure, {len(pairs) - missed} injected;"
          f" {left_out} more would need two errors on one call name, which strace gives one")

    memory = list(pool.map(lambda sc: memory_sweep(harness, sc), cases))
    for sc, limits, results in memory:
        run_all([(sc, (), limit) for limit in limits], results)
    print("faults: memory limits from the least that reaches main to the least that"
          " succeeds: " + ", ".join(f"{sc.name} {limits[0]}..{limits[-1]}"
                                    for sc, limits, _ in memory))
    pool.shutdown()

    report(harness, failures)
    print(f"{judged - len(failures)} passed, {len(failures)} failed")
    if len(ran) < counted:
        print(f"faults: only {len(ran)} of the {counted} injection points were injected;"
              " not: " + ", ".join(f"{sc.name} {name} #{when}" for sc in cases
                                   for name, when in points[sc] if (sc, name, when) not in ran))
    if missed:
        print(f"faults: {missed} fault pairs did not inject both faults")
    return 0 if not failures and len(ran) == counted and not missed else 1


def second_faults(sc, first, run, clean):
    """The pairs after a single fault the program reacted to: it failed and
    made further calls, or went on by other calls than the run without a
    fault. Each call after the failure is failed in turn, with its errors;
    a call of the first fault's name only with the first fault's error (the
    others are counted as left out)."""
    name, error, when = first
    at = run.find(lambda c: c.injected)
    same = clean.find(lambda c: (c.name, c.when) == (name, when))
    after, clean_after = ([c for c in calls[i + 1:] if c.name not in NOT_INJECTED]
                          for calls, i in ((run.calls, at), (clean.calls, same)))
    if not after or (run.status == 0 and [c.name for c in after] ==
                     [c.name for c in clean_after]):
        return [], 0
    pairs, left_out = [], 0
    for second in after:
        errors = errors_of(second.name)
        if second.name == name:
            left_out += len(errors) - 1
            errors = [error]
        pairs += [(sc, (first, (second.name, e, second.when)), None) for e in errors]
    return pairs, left_out


def memory_sweep(harness, sc):
    """The least data limit at which the program reaches main's first call
    (prlimit runs it in its own process), found by bisection over the pages,
    then every page more until it succeeds or the output is refused. Returns
    (scenario, limits, results)."""
    page, pages = os.sysconf("SC_PAGE_SIZE"), range(1, 1 << 16)

    def reaches_main(count):
        run = harness.run(sc, limit=count * page)[0]
        return any(call.text.startswith("rt_sigaction(SIGXFSZ") for call in run.calls)

    least = bisect.bisect_left(pages, True, key=reaches_main)
    if least == len(pages):
        problem = f"does not reach main under a data limit of {pages[-1] * page}"
        return sc, [pages[-1] * page], [(Run(problem=problem), {}, {})]
    limits, results = [], []
    for limit in range(pages[least] * page, (pages[least] + 4098) * page, page):
        limits.append(limit)
        results.append(harness.run(sc, limit=limit))
        run = results[-1][0]
        # A refusal ends it too: an output refused anyway, or one wrongly refused (a
        # run the oracle fails), which more memory would not change.
        if run.status == 0 or (SAYS["create_failed"] % sc.args[1]).encode() in run.stdout:
            break
    return sc, limits, results


def report(harness, failures):
    """Every failing run with a command that reproduces it, grouped by what
    went wrong, then one line a group."""
    groups = collections.defaultdict(list)
    for sc, faults, limit, problems in failures:
        # Temporaries have names of their own each run.
        what = re.sub(r"\.glyphor-[\w-]+", ".glyphor-*", "; ".join(problems))
        groups[f"{sc.program}, {sc.name}: {what}"].append((sc, faults, limit))
    for group, cases in groups.items():
        print(f"\nFAILED {group}")
        for sc, faults, limit in cases:
            how = (f"data limit {limit}" if limit is not None else
                   " then ".join(f"{n} #{w} {e}" for n, e, w in faults) or "no fault")
            print(f"  {how}:\n    {harness.reproduce(sc, faults, limit)}")
    if groups:
        print("\nfailing runs by kind:")
        for group, cases in groups.items():
            print(f"  {len(cases):4} {group}")


if __name__ == "__main__":
    sys.exit(main())
