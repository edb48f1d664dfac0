#!/usr/bin/python3
"""Fails every system call glyphor and glyphor-preview make after start-up,
one at a time and in pairs, under strace's fault injection, runs both programs
short of memory under prlimit, and checks every run against what the README
and the manual pages promise.

    scripts/faults.py BUILD_DIR     (BUILD_DIR holds glyphor and glyphor-preview)

Each scenario is first run without a fault under `strace -f`. Every call after
the first rt_sigaction (main's first act; before it is the C library's
start-up), but brk and exit_group, is an injection point: the k-th call of a
name after start-up is failed as `-e inject=NAME:error=E:when=P+k`, P being how
often the start-up made that call, with each error E that call can return.
A single fault the program reacts to (it fails and makes further calls, or it
goes on by another path) is followed by a second fault at each call it made
after the first, with each of that call's errors. strace keeps one injection a
call name, so two faults on one name share the first fault's error, as
`when=N1..N2+(N2-N1)`.

Prints every failing run as a command to paste, then `N passed, N failed`;
exits non-zero when a run failed or fewer points were injected than counted.
"""

import concurrent.futures
import dataclasses
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import threading

# The errors a call can really return, by what it does; EIO for any call.
WRITES = {"write", "pwrite64", "writev", "pwritev", "pwritev2"}
READS = {"read", "pread64", "readv", "preadv", "preadv2"}
OPENS = {"open", "openat", "openat2", "creat"}
CLOSES = {"close"}
# brk never fails with an error code (it returns the old break instead), and
# exit_group does not return.
NOT_INJECTED = {"brk", "exit_group"}


def errors_of(name):
    if name == "getrandom":
        # Asked to block, it fails only by a signal, on a kernel with statx
        # (4.11), which glyphor needs; the C library's arc4random (a portable
        # build's) aborts on the errors no such kernel gives.
        return ["EINTR"]
    errors = ["EIO"]
    if name in WRITES | {"fsync"}:
        errors += ["ENOSPC", "EDQUOT"]
    if name in OPENS:
        errors += ["EACCES", "EMFILE", "ENOMEM"]
    if name in READS | WRITES | CLOSES:
        errors += ["EINTR"]
    # The calls whose refusal sends the output another way: written in place
    # when its owner, attributes or place cannot be given to a new file.
    errors += {"fchown": ["EPERM", "EINVAL", "ENOSYS"], "fchmod": ["EPERM"],
               "flistxattr": ["EOPNOTSUPP", "ERANGE"], "fgetxattr": ["ENODATA", "ERANGE"],
               "renameat": ["EBUSY", "EXDEV", "EPERM"],
               "rt_sigprocmask": ["EINVAL"]}.get(name, [])
    return errors


UMASK = 0o022
TIMEOUT = 60


@dataclasses.dataclass(eq=False)
class Scenario:
    name: str
    program: str  # "glyphor" or "glyphor-preview"
    setup: list  # shell commands that fill an empty folder
    args: list
    # What the run may change: ("file", PATH) a file replaced as a whole,
    # PATH being the file a symbolic link leads to; ("in place", PATHS) a
    # file written in place under all its names; ("stdout",) the charset or
    # picture into the standard output pipe; None: nothing.
    output: tuple = None
    stdin: str = None  # a file of the folder fed through a pipe
    tiles: int = 256
    refused: bool = False  # the output is refused without a fault


def scenarios(tileset, charset):
    t, c = shlex.quote(tileset), shlex.quote(charset)
    old = "printf 'an older file\\n' >"
    base = [f"cp {t} tileset.bmp", "echo notes >notes.txt"]
    return [
        Scenario("new output", "glyphor", base, ["tileset.bmp", "charset.bin"],
                 ("file", "charset.bin")),
        Scenario("existing output", "glyphor",
                 base + [f"{old} charset.bin", "chmod 640 charset.bin"],
                 ["tileset.bmp", "charset.bin"], ("file", "charset.bin")),
        Scenario("symbolic link", "glyphor",
                 base + ["mkdir target", f"{old} target/charset.bin",
                         "chmod 640 target/charset.bin",
                         "ln -s target/charset.bin charset.bin"],
                 ["tileset.bmp", "charset.bin"], ("file", "target/charset.bin")),
        Scenario("hard link", "glyphor",
                 base + [f"{old} charset.bin", "chmod 640 charset.bin",
                         "ln charset.bin other.bin"],
                 ["tileset.bmp", "charset.bin"],
                 ("in place", ["charset.bin", "other.bin"])),
        Scenario("tileset from a pipe", "glyphor", base,
                 ["/dev/stdin", "charset.bin"], ("file", "charset.bin"),
                 stdin="tileset.bmp"),
        Scenario("charset into the console's pipe", "glyphor", base,
                 ["tileset.bmp", "/dev/stdout"], None, refused=True),
        Scenario("count of 0", "glyphor", base + [f"{old} charset.bin"],
                 ["tileset.bmp", "charset.bin", "0"], None, tiles=0),
        Scenario("tileset as output", "glyphor", base + ["chmod 640 tileset.bmp"],
                 ["tileset.bmp", "tileset.bmp"], ("file", "tileset.bmp")),
        Scenario("new picture", "glyphor-preview", [f"cp {c} charset.bin"],
                 ["charset.bin", "preview.bmp"], ("file", "preview.bmp")),
        Scenario("existing picture", "glyphor-preview",
                 [f"cp {c} charset.bin", f"{old} preview.bmp", "chmod 640 preview.bmp"],
                 ["charset.bin", "preview.bmp"], ("file", "preview.bmp")),
        Scenario("picture into a pipe", "glyphor-preview", [f"cp {c} charset.bin"],
                 ["charset.bin", "/dev/stdout"], ("stdout",)),
    ] + ([  # giving a file to its owner needs root
        Scenario("another's output, a default ACL", "glyphor",
                 base + ["setfacl -d -m u:65534:rw .", f"{old} charset.bin",
                         "chmod 640 charset.bin", "chown 1234:1234 charset.bin"],
                 ["tileset.bmp", "charset.bin"], ("file", "charset.bin")),
    ] if os.geteuid() == 0 else [])


# --- Running a case -------------------------------------------------------

@dataclasses.dataclass
class Call:
    name: str
    text: str  # the whole line, without the pid

    @property
    def injected(self):
        return self.text.endswith("(INJECTED)")


@dataclasses.dataclass
class Run:
    status: int = None  # exit status, or None when killed
    signal: str = None
    stdout: bytes = b""
    stderr: bytes = b""
    calls: list = dataclasses.field(default_factory=list)
    problem: str = None  # the run itself went wrong (no trace, timed out)


CALL = re.compile(r"^(?:\d+ +)?([a-z_][a-z0-9_]*)\((.*)$")
EXITED = re.compile(r"^(?:\d+ +)?\+\+\+ exited with (\d+) \+\+\+$")
KILLED = re.compile(r"^(?:\d+ +)?\+\+\+ killed by (SIG\w+)")


def parse_trace(path, run):
    with open(path, errors="replace") as trace:
        for line in trace:
            line = line.rstrip("\n")
            if match := CALL.match(line):
                run.calls.append(Call(match.group(1), match.group(1) + "(" + match.group(2)))
            elif match := EXITED.match(line):
                run.status = int(match.group(1))
            elif match := KILLED.match(line):
                run.signal = match.group(1)
    if run.status is None and run.signal is None:
        run.problem = "the trace does not say how the program ended"


def occurrence(calls, index):
    """How many calls of calls[index]'s name up to it, from process start."""
    name = calls[index].name
    return sum(1 for call in calls[: index + 1] if call.name == name)


def start_of_main(calls):
    for index, call in enumerate(calls):
        if call.name == "rt_sigaction":
            return index
    return None


def inject_options(faults):
    """faults: [(name, error, occurrence)], at most two. strace keeps one
    injection a name: two on one name become one range with the first
    error, its step leading from the first straight to the second."""
    if len(faults) == 2 and faults[0][0] == faults[1][0]:
        (name, error, first), (_, _, second) = faults
        return ["-e", f"inject={name}:error={error}:when={first}..{second}+{second - first}"]
    options = []
    for name, error, when in faults:
        options += ["-e", f"inject={name}:error={error}:when={when}"]
    return options


class Harness:
    def __init__(self, build, root, scratch):
        self.programs = {p: os.path.join(build, p) for p in ("glyphor", "glyphor-preview")}
        self.scratch = scratch
        self.devices = threading.Lock()
        self.tileset = os.path.join(root, "examples", "tileset.bmp")

    def command(self, sc, faults=(), limit=None, trace=None):
        argv = [self.programs[sc.program], *sc.args]
        if limit is not None:
            argv = ["prlimit", f"--data={limit}", *argv]
        if trace is not None:
            argv = ["strace", "-f", "-o", trace, *inject_options(faults), *argv]
        return argv

    def run(self, sc, faults=(), limit=None, traced=True):
        """Runs a case in a folder of its own: returns (run, before, after),
        the folder's entries before and after the run. A case that names a
        file in /dev sees the links there too; such cases run one at a time,
        and what one of them changed in /dev is put back after it."""
        if not any(arg.startswith("/dev/") for arg in sc.args):
            return self.run_in_folder(sc, faults, limit, traced)
        with self.devices:
            links = device_links()
            run, before, after = self.run_in_folder(sc, faults, limit, traced)
            links_after = device_links()
            restore_device_links(links, links_after)
        return run, {**before, **links}, {**after, **links_after}

    def run_in_folder(self, sc, faults, limit, traced):
        home = tempfile.mkdtemp(dir=self.scratch)
        try:
            folder = os.path.join(home, "w")
            os.mkdir(folder)
            subprocess.run(["bash", "-euc", "\n".join(sc.setup)], cwd=folder, check=True)
            before = snapshot(folder)
            trace = os.path.join(home, "trace") if traced else None
            run = Run()
            stdin = subprocess.DEVNULL
            if sc.stdin is not None:
                # The whole tileset waits in the pipe (it fits its buffer)
                # before the program starts, so it reads it in the same
                # calls every time.
                read_end, write_end = os.pipe()
                with open(os.path.join(folder, sc.stdin), "rb") as source:
                    os.write(write_end, source.read())
                os.close(write_end)
                stdin = read_end
            try:
                done = subprocess.run(self.command(sc, faults, limit, trace), cwd=folder,
                                      stdin=stdin, capture_output=True, timeout=TIMEOUT)
                run.stdout, run.stderr = done.stdout, done.stderr
                if traced and os.path.exists(trace):
                    parse_trace(trace, run)
                elif traced:
                    run.problem = f"strace did not run: {done.stderr.decode(errors='replace')}"
                elif done.returncode < 0:
                    run.signal = f"signal {-done.returncode}"
                else:
                    run.status = done.returncode
            except subprocess.TimeoutExpired:
                run.problem = f"still running after {TIMEOUT} s"
            finally:
                if sc.stdin is not None:
                    os.close(stdin)
            return run, before, snapshot(folder)
        finally:
            shutil.rmtree(home, ignore_errors=True)

    def reproduce(self, sc, faults=(), limit=None):
        """A command that sets the scenario up in a scratch folder and runs
        the case there, with the same kinds of standard streams."""
        trace = None if limit else "@TRACE@"
        line = " ".join('"$d/trace"' if a == trace else shlex.quote(a)
                        for a in self.command(sc, faults, limit, trace))
        if sc.stdin is not None:
            # Filled before the program reads, as in the stage.
            line = f"cat {shlex.quote(sc.stdin)} | {{ sleep 0.2; {line}; }}"
        shown = ('; cat -v "$d/out" | tail -c 600' if sc.output == ("stdout",)
                 else '; cat "$d/out"')
        steps = ['d=$(mktemp -d)', 'mkdir "$d/w"', 'cd "$d/w"', f"umask {UMASK:03o}",
                 *sc.setup]
        text = " && ".join(steps) + f' && {line} | cat >"$d/out"; echo "status $?"{shown}; ls -laR'
        if limit is None:
            text += '; grep INJECTED "$d/trace"'
        return f"(set -o pipefail; {text})"


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
    entries = {}
    for top, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(top, name)
            entries[os.path.relpath(path, folder)] = entry(path)
    return entries


def device_links():
    """What a program reaches /dev/stdin and /dev/stdout by, and any
    temporary beside them: a write path that took /dev/stdout for a file
    would replace it for the whole machine."""
    return {f"/dev/{name}": entry(f"/dev/{name}") for name in os.listdir("/dev")
            if name in ("stdin", "stdout", "stderr", "fd") or name.startswith(".glyphor-")}


def restore_device_links(before, after):
    for path, found in before.items():
        if after.get(path) != found and found["kind"] == stat.S_IFLNK:
            if os.path.lexists(path):
                os.unlink(path)
            os.symlink(found["target"], path)
    for path in after.keys() - before.keys():
        os.unlink(path)


def glyphor_texts(sc):
    tileset, output = sc.args[0], sc.args[1]
    n = sc.tiles
    success = (f"Succes ! Fichier {output} genere avec {n} tuiles ({n * 8} octets).\n"
               "Pret pour le retro-coding !\n\n")
    failures = [f"Erreur: Impossible d'ouvrir le fichier {tileset}\n",
                "Erreur: Ce n'est pas un fichier BMP valide.\n",
                f"Erreur: Impossible de creer le fichier de sortie {output}\n",
                f"Erreur: Impossible d'ecrire le fichier de sortie {output}\n",
                "Erreur: Memoire insuffisante.\n"]
    return success, failures


def preview_texts(sc):
    charset, picture = sc.args
    success = f"glyphor-preview: {picture} shows the 256 tiles of {charset}\n"
    failures = [f"glyphor-preview: cannot read {charset}\n",
                f"glyphor-preview: cannot write {picture}\n",
                "glyphor-preview: out of memory\n"]
    return success, failures


def out_of_memory(text):
    return "emoire" in text or "out of memory" in text


def strace_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")


class Oracle:
    def __init__(self, banner, charset, picture):
        self.banner = banner
        self.charset = charset
        self.picture = picture

    def console_lost(self, sc, run):
        """True when an injected fault failed the write of the console text
        itself: that text is gone, and the docs still call a charset written
        to a file a success."""
        fd, start = (1, self.banner) if sc.program == "glyphor" else (2, "glyphor-preview: ")
        prefix = f"write({fd}, " + strace_string(start[:16])
        return any(c.injected and c.text.startswith(prefix) for c in run.calls)

    def phase_failures(self, sc, run, failures):
        """The failure messages the man pages map to the steps the injected
        calls belong to: before the output is opened, the input's; from its
        opening to the output's first byte, the creating one; from there on,
        the writing one. Out of memory belongs to every step."""
        output = '"' + sc.args[1] + '"'
        opened = next((i for i, c in enumerate(run.calls)
                       if output in c.text and "O_WRONLY" in c.text), len(run.calls))
        glyphor = sc.program == "glyphor"
        console = "write(1," if glyphor else "write(2,"
        first_byte = next((i for i, c in enumerate(run.calls[opened:], opened)
                           if c.name in WRITES and not c.text.startswith(console)),
                          len(run.calls))
        allowed = {f for f in failures if out_of_memory(f)}
        if sc.refused:
            allowed |= {f for f in failures if "creer" in f}
        cuts = [i for i, c in enumerate(run.calls) if c.name == "ftruncate"]
        for i, call in enumerate(run.calls):
            if not call.injected:
                continue
            # Writing in place starts with a cut, which is still the creating step.
            if i < opened:
                allowed |= {f for f in failures if "ouvrir" in f or "BMP" in f or "read" in f}
            elif i < first_byte or cuts[:1] == [i]:
                allowed |= {f for f in failures if "creer" in f or (not glyphor and "write" in f)}
            else:
                allowed |= {f for f in failures if "ecrire" in f or (not glyphor and "write" in f)}
        return [f for f in failures if f in allowed]

    def check(self, sc, run, before, after, memory=False):
        problems = []
        if run.problem:
            return [run.problem]
        if run.signal:
            return [f"ended by {run.signal}"]
        if run.status not in (0, 1):
            return [f"exit status {run.status}"]
        ok = run.status == 0
        glyphor = sc.program == "glyphor"
        success, failures = (glyphor_texts if glyphor else preview_texts)(sc)
        if memory:
            failures = [f for f in failures if out_of_memory(f) or (sc.refused and "creer" in f)]
        elif any(call.injected for call in run.calls):
            failures = self.phase_failures(sc, run, failures)
        expected = self.charset[: sc.tiles * 8] if glyphor else self.picture
        # The console's text, and what the standard output pipe carried.
        console, piped = (run.stdout, b"") if glyphor else (run.stderr, run.stdout)
        other = run.stderr if glyphor else (b"" if sc.output == ("stdout",) else run.stdout)
        if other:
            problems.append(f"unexpected {'standard error' if glyphor else 'standard output'}:"
                            f" {other[:200]!r}")
        wanted = [((self.banner if glyphor else "") + text).encode()
                  for text in ([success] if ok else failures)]
        if glyphor and sc.output == ("stdout",):
            # Charset and console text share the pipe, the text from the banner on.
            at = console.find(self.banner.encode())
            at = len(console) if at < 0 else at
            piped, console = console[:at], console[at:]
        if console not in wanted and not (console == b"" and self.console_lost(sc, run)):
            problems.append(f"status {run.status} with the text {console.decode(errors='replace')!r}")
        if sc.output == ("stdout",):
            if ok and piped != expected:
                problems.append(f"status 0, but the pipe got {len(piped)} bytes, not the"
                                f" {len(expected)} expected")
            if not ok and not expected.startswith(piped):
                problems.append("the pipe got bytes that are not the start of the output")
        problems += self.check_files(sc, ok, expected, before, after, run)
        return problems

    def check_files(self, sc, ok, expected, before, after, run):
        """A file written in place (the run cut it) may be left empty by a
        failure, or as it is when the cut itself was failed; a temporary whose
        removal was failed stays."""
        problems = []
        in_place = any(c.name == "ftruncate" for c in run.calls)
        cut_failed = any(c.injected and c.name == "ftruncate" for c in run.calls)
        unlink_failed = any(c.injected and c.name == "unlinkat" for c in run.calls)
        kind = sc.output[0] if sc.output else None
        outputs = ([sc.output[1]] if kind == "file" else sc.output[1] if kind == "in place"
                   else [])
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
            kept = old is not None and all(new[k] == old[k] for k in ("inode", "mode", "bytes"))
            if ok:
                if new["bytes"] != expected:
                    problems.append(f"status 0, but {path} holds {len(new['bytes'])} bytes"
                                    " that are not the expected output")
                if new["mode"] != mode:
                    problems.append(f"{path} has mode {new['mode']:o}, not {mode:o}")
                if kind == "file" and old and not in_place and new["inode"] == old["inode"]:
                    problems.append(f"status 0, but {path} was written in place, not replaced")
            elif kind == "in place" or (in_place and old is not None):
                if not (new["inode"] == old["inode"] and new["mode"] == old["mode"] and
                        (new["bytes"] in (old["bytes"], b"") or cut_failed)):
                    problems.append(f"status 1, and {path} (written in place) is neither"
                                    f" as it was nor empty: {len(new['bytes'])} bytes")
            elif old is None:
                problems.append(f"status 1, and {path} was created")
            elif not kept:
                problems.append(f"status 1, and {path} is not as it was"
                                f" ({len(new['bytes'])} bytes; inode, mode or bytes changed)")
            if kind == "in place" and new["inode"] != old["inode"]:
                problems.append(f"{path}, written in place, is another file now")
        for path in sorted(set(before) | set(after)):
            if path in outputs:
                continue
            old, new = before.get(path), after.get(path)
            if old is None:
                if not (unlink_failed and os.path.basename(path).startswith(".glyphor-")):
                    problems.append(f"left behind: {path}")
            elif new is None:
                problems.append(f"removed: {path}")
            else:
                fields = ("kind", "inode", "mode", "links", "bytes", "target", "mtime")
                if old["kind"] == stat.S_IFDIR:
                    fields = ("kind", "inode", "mode")
                if any(old.get(k) != new.get(k) for k in fields):
                    problems.append(f"changed: {path}")
        return problems


# --- The stage --------------------------------------------------------------

def main():
    build = os.path.abspath(sys.argv[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.umask(UMASK)
    scratch = tempfile.mkdtemp(prefix="glyphor-faults.")
    try:
        return stage(build, root, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def reference_outputs(harness, build):
    """The banner, and the charset and picture of runs without a fault. The
    sample's charset, which the build made, is the pictures' charset: the
    commands printed for failures still find it once the stage is over."""
    folder = tempfile.mkdtemp(dir=harness.scratch)
    glyphor, preview = harness.programs["glyphor"], harness.programs["glyphor-preview"]
    usage = subprocess.run([glyphor], capture_output=True, text=True).stdout
    banner = usage[: usage.index("Usage:")]
    charset, picture = os.path.join(folder, "charset.bin"), os.path.join(folder, "preview.bmp")
    sample = os.path.join(build, "sample-charset.bin")
    subprocess.run([glyphor, harness.tileset, charset], check=True, capture_output=True)
    subprocess.run([preview, sample, picture], check=True, capture_output=True)
    with open(charset, "rb") as c, open(sample, "rb") as s, open(picture, "rb") as p:
        if c.read() != s.read():
            sys.exit(f"faults: {sample} is not the sample's charset")
        s.seek(0)
        return banner, s.read(), p.read(), sample


def stage(build, root, scratch):
    harness = Harness(build, root, scratch)
    banner, charset, picture, charset_path = reference_outputs(harness, build)
    oracle = Oracle(banner, charset, picture)
    cases = scenarios(harness.tileset, charset_path)
    jobs = os.cpu_count() or 2
    pool = concurrent.futures.ThreadPoolExecutor(jobs)
    failures = []
    passed = 0

    def judge(sc, faults, result, limit=None, memory=False):
        nonlocal passed
        run, before, after = result
        problems = oracle.check(sc, run, before, after, memory)
        if problems:
            failures.append((sc, faults, limit, problems))
        else:
            passed += 1

    # Runs without a fault: the injection points.
    clean = dict(zip(cases, pool.map(lambda sc: harness.run(sc), cases)))
    points = {}  # scenario -> [(name, when)]
    for sc, result in clean.items():
        judge(sc, (), result)
        calls = result[0].calls
        cut = start_of_main(calls)
        if cut is None:
            print(f"faults: {sc.name}: no rt_sigaction, so no start of main, in the trace")
            return 1
        points[sc] = [(calls[i].name, occurrence(calls, i))
                      for i in range(cut, len(calls)) if calls[i].name not in NOT_INJECTED]
    counted = sum(len(p) for p in points.values())
    print(f"faults: {counted} injection points after start-up: " +
          ", ".join(f"{sc.name} {len(points[sc])}" for sc in cases))

    # Every point, every error.
    singles = [(sc, ((name, error, when),)) for sc in cases for name, when in points[sc]
               for error in errors_of(name)]
    results = list(pool.map(lambda case: harness.run(case[0], case[1]), singles))
    ran = set()
    pairs, left_out = [], 0
    for (sc, faults), result in zip(singles, results):
        judge(sc, faults, result)
        run = result[0]
        hit = [i for i, call in enumerate(run.calls) if call.injected]
        (name, error, when), = faults
        if len(hit) != 1 or (run.calls[hit[0]].name, occurrence(run.calls, hit[0])) != (name, when):
            continue
        ran.add((sc, name, when))
        more, skipped = second_faults(sc, faults[0], run, hit[0], clean[sc][0])
        pairs += more
        left_out += skipped
    print(f"faults: {len(singles)} single faults, {len(ran)} of {counted} points injected")

    results = list(pool.map(lambda case: harness.run(case[0], case[1]), pairs))
    missed = 0
    for (sc, faults), result in zip(pairs, results):
        judge(sc, faults, result)
        run = result[0]
        hit = sorted((c.name, occurrence(run.calls, i)) for i, c in enumerate(run.calls)
                     if c.injected)
        if hit != sorted((name, when) for name, _, when in faults):
            missed += 1
    print(f"faults: {len(pairs)} fault pairs after a failure, {len(pairs) - missed} injected;"
          f" {left_out} more would need two errors on one call name, which strace gives one")

    memory = memory_sweep(harness, cases, pool)
    for sc, limits, results in memory:
        for limit, result in zip(limits, results):
            judge(sc, (), result, limit, memory=True)
    print("faults: memory limits from the least that reaches main to the least that"
          " succeeds: " + ", ".join(f"{sc.name} {limits[0]}..{limits[-1]}"
                                    for sc, limits, _ in memory))
    pool.shutdown()

    report(harness, failures)
    print(f"{passed} passed, {len(failures)} failed")
    if len(ran) < counted:
        print(f"faults: only {len(ran)} of the {counted} injection points were injected;"
              " not: " + ", ".join(f"{sc.name} {name} #{when}" for sc in cases
                                   for name, when in points[sc] if (sc, name, when) not in ran))
    if missed:
        print(f"faults: {missed} fault pairs did not inject both faults")
    return 0 if not failures and len(ran) == counted and not missed else 1


def second_faults(sc, first, run, at, clean):
    """The pairs after a single fault the program reacted to: it failed and
    made further calls, or went on by other calls than the run without a
    fault. Each call after the failure is failed in turn, with its errors;
    a call of the first fault's name only with the first fault's error (the
    others are counted as left out)."""
    after = [c.name for c in run.calls[at + 1:] if c.name not in NOT_INJECTED]
    name, error, when = first
    same = next(i for i, c in enumerate(clean.calls)
                if c.name == name and occurrence(clean.calls, i) == when)
    clean_after = [c.name for c in clean.calls[same + 1:] if c.name not in NOT_INJECTED]
    if not after or (run.status == 0 and after == clean_after):
        return [], 0
    pairs, left_out = [], 0
    for i in range(at + 1, len(run.calls)):
        second = run.calls[i].name
        if second in NOT_INJECTED:
            continue
        errors = errors_of(second)
        if second == name:
            left_out += len(errors) - 1
            errors = [error]
        for other in errors:
            pairs.append((sc, (first, (second, other, occurrence(run.calls, i)))))
    return pairs, left_out


def reaches_main(harness, sc, limit):
    """True when, under the data limit, the program gets as far as main's
    first call; prlimit runs the program in its own process."""
    run = harness.run(sc, limit=limit, traced=True)[0]
    return any(call.text.startswith("rt_sigaction(SIGXFSZ") for call in run.calls)


def memory_sweep(harness, cases, pool):
    """Per scenario: the least data limit (in pages) at which the program
    reaches main, found by bisection, then every page more until it
    succeeds (or, for an output refused anyway, is refused). Returns
    [(scenario, limits, results)]."""
    page = os.sysconf("SC_PAGE_SIZE")

    def sweep(sc):
        low, high = 0, 1
        while not reaches_main(harness, sc, high * page):
            if high > 1 << 20:
                problem = f"does not reach main under a data limit of {high * page}"
                return sc, [high * page], [(Run(problem=problem), {}, {})]
            low, high = high, high * 2
        while high - low > 1:
            middle = (low + high) // 2
            if reaches_main(harness, sc, middle * page):
                high = middle
            else:
                low = middle
        limits, results = [], []
        pages = high
        while True:
            limits.append(pages * page)
            results.append(harness.run(sc, limit=pages * page, traced=False))
            run = results[-1][0]
            done = (b"creer" in run.stdout) if sc.refused else run.status == 0
            if done or len(limits) > 4096:
                return sc, limits, results
            pages += 1

    return list(pool.map(sweep, cases))


def report(harness, failures):
    """Every failing run with a command that reproduces it, grouped by what
    went wrong, then one line a group."""
    groups = {}
    for sc, faults, limit, problems in failures:
        # Temporaries have names of their own each run.
        what = re.sub(r"\.glyphor-[\w-]+", ".glyphor-*", "; ".join(problems))
        groups.setdefault(f"{sc.program}, {sc.name}: {what}", []).append((sc, faults, limit))
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
