#!/usr/bin/python3
"""Fuzz pass of velmo's readers.

Each case copies one seed folder (tools/fuzz/seeds), damages one input in one
way (a section of the control file, a station file, a grid, a state file, ...),
runs velmo, normally the sanitizer build, under a time limit and sorts the
outcome into one class:

    crash       killed by a signal (ASan's SEGV and stack overflow included)
    sanitizer   an AddressSanitizer, LeakSanitizer or UBSan report
    timeout     still running at the time limit
    bad-diag    the diagnostics file is missing or not well-formed XML
    no-fatal    a non-zero exit without a FATAL entry
    fatal       a non-zero exit with a FATAL entry: the input was refused
    exit-0      the run went through

The first five are failures. An exit-0 case whose mutation damaged a number
or cut a file is listed for a look (review.tsv): it may have been misread.

A case is fixed by its id "<seed>-<index>": the same id gives the same
mutation on the same seeds, whatever --readers and --jobs say, so that
"--reproduce <id>" runs it again and keeps its folder.
"""

import argparse
import concurrent.futures
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]

FAILURES = ["crash", "sanitizer", "timeout", "bad-diag", "no-fatal"]
CLASSES = FAILURES + ["fatal", "exit-0"]

# ---------------------------------------------------------------- seeds and targets


@dataclass
class Target:
    seed: str        # folder name under seeds/
    control: str     # the seed's control file
    path: str        # the file mutated, relative to the seed folder
    kind: str        # "control" (one section), "text" or "binary"
    reader: str
    lines: tuple = None  # control: the section's line range [first, end)


SECTION = re.compile(rb"^\s*\[([^\]\r\n]+)\]")


def control_targets(seed, folder, control):
    """One target per section of the control file; the reader is the section,
    with the variable sections of the interpolators and the rule sections
    taken as one reader each."""
    lines = (folder / control).read_bytes().splitlines(keepends=True)
    starts = [(i, SECTION.match(line).group(1).decode()) for i, line in enumerate(lines) if SECTION.match(line)]
    names = [name for _, name in starts]
    meteo = set()
    if "meteo_names" in names:
        at = starts[names.index("meteo_names")][0] + 1
        while at < len(lines) and not SECTION.match(lines[at]):
            meteo.update(lines[at].decode().split()[:1])
            at += 1
    targets = []
    if starts and starts[0][0] > 0:
        targets.append(Target(seed, control, control, "control", "control file head ($set)", (0, starts[0][0])))
    for k, (first, name) in enumerate(starts):
        end = starts[k + 1][0] if k + 1 < len(starts) else len(lines)
        reader = f"[{name}]"
        if name in meteo:
            reader = "[meteo variable]"
        elif name.startswith("abstraction_rule_"):
            reader = "[abstraction_rule_...]"
        targets.append(Target(seed, control, control, "control", reader, (first, end)))
    return targets


def load_targets(seeds_dir):
    targets = []
    for folder in sorted(p for p in seeds_dir.iterdir() if (p / "seed.cfg").exists()):
        control = None
        for line in (folder / "seed.cfg").read_text().splitlines():
            if not line.strip() or line.startswith("#"):
                continue
            kind, name, *reader = line.split()
            if kind == "control":
                control = name
                targets += control_targets(folder.name, folder, name)
            else:
                targets.append(Target(folder.name, control, name, kind, " ".join(reader)))
    return targets


# ---------------------------------------------------------------- mutations

NUMBER = re.compile(rb"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")
TOKEN = re.compile(rb"[^\s]+")
FILE_NAME = re.compile(rb"[\w./-]*\w\.[A-Za-z]\w*|[\w.-]+/[\w./-]+")

REPLACEMENTS = {
    "nan": [b"nan", b"NaN", b"-nan"],
    "inf": [b"inf", b"-inf", b"Infinity"],
    "1e309": [b"1e309", b"-1e309"],
    "huge": [b"1e300", b"-1e300", b"2147483648", b"-2147483649", b"99999999999999999999", b"1e20", b"-1e20",
             b"4294967296"],
    "negative": [b"-1", b"-5", b"-0.5"],
    "zero": [b"0", b"0.0"],
    "subnormal": [b"1e-310", b"4.9e-324"],
    "empty": [b""],
    "1,5": [b"1,5"],
    "12abc": [b"12abc", b"1.2.3", b"1e", b"3x"],
}
NON_UTF8 = [b"\xff", b"\xe9", b"\xc3", b"\x80\x80", b"\xfe\xff", b"\xed\xa0\x80", b"Z\xfcrich"]
DOUBLES = [float("nan"), float("inf"), float("-inf"), 1e308, -1e308, 5e-324, 0.0, -9999.0, 1e20, -1.0]
FLOATS = [float("nan"), float("inf"), 3.4e38, -3.4e38, 1e-45, 0.0, -9999.0]
INTS = [0x7FFFFFFF, -1, -0x80000000, 0, 1 << 24, 65535]

TEXT_MUTATIONS = ["delete line", "double line", "cut line", "cut file", "crlf", "non-utf8", "long line",
                  "long name"] + [f"token {k}" for k in REPLACEMENTS]
BINARY_MUTATIONS = ["bit flip", "cut", "extreme number"]


@dataclass
class Mutation:
    name: str
    detail: str
    damaged: bool  # a number was damaged or the file cut
    data: bytes


def line_no(data, offset):
    return data.count(b"\n", 0, offset) + 1


def mutate_text(rng, data, target):
    lines = data.splitlines(keepends=True)
    first, end = target.lines or (0, len(lines))
    if end <= first:
        first, end = 0, max(1, len(lines))
    lines = lines or [b""]
    name = rng.choice(TEXT_MUTATIONS)
    i = rng.randrange(first, min(end, len(lines)))
    where = f"line {i + 1}"

    def joined(new_lines):
        return b"".join(new_lines)

    def strip_end(line):
        body = line.rstrip(b"\r\n")
        return body, line[len(body):]

    if name == "delete line":
        return Mutation(name, where, False, joined(lines[:i] + lines[i + 1:]))
    if name == "double line":
        return Mutation(name, where, False, joined(lines[:i + 1] + lines[i:]))
    if name == "cut line":
        body, newline = strip_end(lines[i])
        cut = rng.randrange(0, max(1, len(body)))
        return Mutation(name, f"{where} after {cut} bytes", True, joined(lines[:i] + [body[:cut] + newline] + lines[i + 1:]))
    if name == "cut file":
        start = len(joined(lines[:first]))
        stop = len(joined(lines[:end]))
        cut = rng.randrange(start, max(start + 1, stop))
        return Mutation(name, f"at byte {cut} (line {line_no(data, cut)})", True, data[:cut])
    if name == "crlf":
        changed = [line.rstrip(b"\r\n") + b"\r\n" if line.endswith(b"\n") else line for line in lines[first:end]]
        return Mutation(name, f"lines {first + 1}-{end}", False, joined(lines[:first] + changed + lines[end:]))
    if name == "non-utf8":
        body, newline = strip_end(lines[i])
        at = rng.randrange(0, len(body) + 1)
        piece = rng.choice(NON_UTF8)
        return Mutation(name, f"{where} at {at}: {piece!r}", False,
                        joined(lines[:i] + [body[:at] + piece + body[at:] + newline] + lines[i + 1:]))
    if name == "long line":
        body, newline = strip_end(lines[i])
        size = rng.choice([5000, 70000, 300000])
        tail = rng.choice([b" " + b"9" * size, b"x" * size, b" " + b"1 " * (size // 2)])
        return Mutation(name, f"{where} + {len(tail)} bytes", False,
                        joined(lines[:i] + [body + tail + newline] + lines[i + 1:]))
    # Token replacements, and names made too long.
    candidates = []
    for k in [i] + [rng.randrange(first, min(end, len(lines))) for _ in range(30)]:
        body, _ = strip_end(lines[k])
        tokens = [m.span() for m in TOKEN.finditer(body)]
        if name != "long name" and tokens and rng.random() < 0.5:
            # Most lines hold their value first and a comment after it.
            a, b = tokens[0]
            number = NUMBER.search(body, a, b)
            spans = [number.span() if number else (a, b)]
        else:
            pattern = FILE_NAME if name == "long name" else (NUMBER if rng.random() < 0.8 else TOKEN)
            spans = [m.span() for m in pattern.finditer(body)] or tokens
        if spans:
            candidates = [(k, span) for span in spans]
            break
    if not candidates:
        return Mutation("delete line", where, False, joined(lines[:i] + lines[i + 1:]))
    k, (a, b) = rng.choice(candidates)
    body, newline = strip_end(lines[k])
    old = body[a:b]
    if name == "long name":
        stem = old.rsplit(b".", 1)
        size = rng.choice([300, 5000])
        new = rng.choice([b"n" * size + b"." + (stem[1] if len(stem) > 1 else b"txt"), b"d/" * (size // 2) + old])
    else:
        new = rng.choice([r for r in REPLACEMENTS[name.split(" ", 1)[1]] if r != old] or [b"-0"])
    damaged = bool(NUMBER.fullmatch(old))
    shown = new if len(new) <= 40 else new[:20] + b"...(%d bytes)" % len(new)
    return Mutation(name, f"line {k + 1}: {old.decode('latin-1')!r} -> {shown.decode('latin-1')!r}", damaged,
                    joined(lines[:k] + [body[:a] + new + body[b:] + newline] + lines[k + 1:]))


def mutate_binary(rng, data, target):
    name = rng.choice(BINARY_MUTATIONS)
    size = len(data)

    def offset(width=1):
        limit = min(size, 512) if rng.random() < 0.5 else size
        return rng.randrange(0, max(1, limit - width + 1))

    if name == "bit flip":
        out = bytearray(data)
        flips = []
        for _ in range(rng.choice([1, 2, 4, 8])):
            at, bit = offset(), rng.randrange(8)
            out[at] ^= 1 << bit
            flips.append(f"{at}.{bit}")
        return Mutation(name, "bits " + " ".join(flips), False, bytes(out))
    if name == "cut":
        cut = offset()
        return Mutation(name, f"at byte {cut} of {size}", True, data[:cut])
    kind = rng.choice(["double", "float", "int32", "int32 big-endian", "double big-endian"])
    width = 8 if "double" in kind else 4
    at = offset(width) // width * width
    order = ">" if "big" in kind else "<"
    if "double" in kind:
        value = rng.choice(DOUBLES)
        piece = struct.pack(order + "d", value)
    elif kind == "float":
        value = rng.choice(FLOATS)
        piece = struct.pack("<f", value)
    else:
        value = rng.choice(INTS)
        piece = struct.pack(order + "i", value)
    return Mutation(name, f"{kind} {value!r} at byte {at}", True, data[:at] + piece + data[at + width:])


# ---------------------------------------------------------------- cases


@dataclass
class Case:
    id: str
    target: Target
    mutation: Mutation = None


def parse_id(case_id):
    m = re.fullmatch(r"(\d+)-(\d+)", case_id)
    if not m:
        sys.exit(f"a case id is <seed>-<index>, not {case_id!r}")
    return int(m.group(1)), int(m.group(2))


class Pass:
    def __init__(self, seeds_dir):
        self.seeds_dir = seeds_dir
        targets = load_targets(seeds_dir)
        self.by_reader = {}
        for t in targets:
            self.by_reader.setdefault(t.reader, []).append(t)
        self.readers = sorted(self.by_reader)

    def choose(self, seed, index):
        """The reader, the target and the generator of a case. The reader is
        drawn first, evenly, so that every reader gets its share."""
        rng = random.Random(f"velmo-fuzz:{seed}:{index}")
        reader = rng.choice(self.readers)
        return rng, rng.choice(self.by_reader[reader])

    def make(self, seed, index):
        rng, target = self.choose(seed, index)
        data = (self.seeds_dir / target.seed / target.path).read_bytes()
        mutate = mutate_binary if target.kind == "binary" else mutate_text
        return Case(f"{seed}-{index}", target, mutate(rng, data, target))

    def cases(self, seed, count, selected, first=0):
        index = first
        while count > 0:
            _, target = self.choose(seed, index)
            if selected(target):
                yield self.make(seed, index)
                count -= 1
            index += 1


def selection(patterns):
    """Readers picked by --readers: a target is in when any pattern is part
    of its reader, seed or file name."""
    if not patterns:
        return lambda target: True
    words = [p.strip().lower() for p in patterns.split(",") if p.strip()]
    return lambda t: any(w in t.reader.lower() or w == t.seed.lower() or w in t.path.lower() for w in words)


# ---------------------------------------------------------------- running and sorting


@dataclass
class Outcome:
    cls: str
    exit: int
    seconds: float
    detail: str = ""
    code: str = ""
    stderr: str = ""
    notes: list = field(default_factory=list)


def environment():
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = ("detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:disable_coredump=1:"
                           "max_allocation_size_mb=8192:hard_rss_limit_mb=6144")
    # Leaks that libhdf5 and libnetcdf keep on corrupt files are the libraries'.
    env["LSAN_OPTIONS"] = f"suppressions={HERE / 'lsan.supp'}:print_suppressions=0"
    env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
    return env


SANITIZER = re.compile(r"ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)|runtime error:")
CRASH = re.compile(r"AddressSanitizer: (SEGV|stack-overflow|BUS|FPE|ILL|ABRT)|AddressSanitizer:DEADLYSIGNAL")
FRAME = re.compile(r"#\d+ 0x[0-9a-f]+ in (.+) (\S+:\d+)(?::\d+)?$", re.M)
UBSAN_AT = re.compile(r"(\S*src/\S+?:\d+):\d+: runtime error: (.*)")


def our_frame(stderr):
    """The first stack frame in velmo's own sources: function and file:line."""
    for m in FRAME.finditer(stderr):
        path = m.group(2)
        if re.search(r"(^|/)src/", path) and "libsanitizer" not in path and not path.startswith("/usr/"):
            return m.group(1), re.split(r"(?:^|/)src/", path)[-1]
    return None


def where(stderr):
    """The sanitizer's kind and the first frame in velmo's own sources."""
    frame = our_frame(stderr)
    ub = UBSAN_AT.search(stderr)
    if ub:
        return f"{ub.group(2)} at {re.split(r'(?:^|/)src/', ub.group(1))[-1]}" + (f" in {frame[0]}" if frame else "")
    summary = re.search(r"SUMMARY: \w+Sanitizer: (\S+)", stderr)
    kind = "memory leak" if "ERROR: LeakSanitizer" in stderr else summary.group(1) if summary else "signal"
    return kind + (f" in {frame[0]} at {frame[1]}" if frame else "")


def fatal_entries(diag):
    root = ElementTree.parse(diag).getroot()
    return [e.get("description", "") for e in root if e.get("level") == "0"]


def classify(rc, timed_out, stderr, folder, seconds):
    if timed_out:
        return Outcome("timeout", rc, seconds)
    if SANITIZER.search(stderr) or CRASH.search(stderr):
        cls = "crash" if CRASH.search(stderr) else "sanitizer"
        return Outcome(cls, rc, seconds, where(stderr), stderr=stderr)
    if rc < 0:
        return Outcome("crash", rc, seconds, f"signal {-rc}", stderr=stderr)
    diag = folder / "Velmo_Diag.xml"
    try:
        fatal = fatal_entries(diag)
    except (OSError, ElementTree.ParseError) as e:
        return Outcome("bad-diag", rc, seconds, str(e).replace(str(folder) + "/", ""))
    transcript = (folder / "transcript.txt").read_bytes()
    code = re.findall(rb"Program aborted with exit code (-?\d+)", transcript)
    code = code[-1].decode() if code else ""
    first = next((f for f in fatal if not f.startswith("FATAL: Execption") and "Program aborted" not in f),
                 fatal[0] if fatal else "")
    first = " ".join(first.replace(";", " ").split())[:160]
    if rc != 0:
        return Outcome("fatal" if fatal else "no-fatal", rc, seconds, first, code)
    outcome = Outcome("exit-0", rc, seconds)
    if fatal:
        outcome.notes.append("FATAL entry despite exit 0")
    return outcome


def run(case, pass_, velmo, workdir, timeout):
    folder = workdir / case.id
    if folder.exists():
        shutil.rmtree(folder)
    shutil.copytree(pass_.seeds_dir / case.target.seed, folder, ignore=shutil.ignore_patterns("seed.cfg"))
    (folder / case.target.path).write_bytes(case.mutation.data)
    start = time.monotonic()
    timed_out = False
    with open(folder / "transcript.txt", "wb") as out, open(folder / "stderr.txt", "wb") as err:
        process = subprocess.Popen([velmo, case.target.control], cwd=folder, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err, env=environment(), start_new_session=True)
        try:
            rc = process.wait(timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            os.killpg(process.pid, signal.SIGKILL)
            rc = process.wait()
    stderr = (folder / "stderr.txt").read_bytes().decode("utf-8", "replace")
    outcome = classify(rc, timed_out, stderr, folder, time.monotonic() - start)
    outcome.stderr = stderr
    return outcome, folder


# ---------------------------------------------------------------- report


def describe(case):
    t = case.target
    return f"{t.seed}/{t.path}" + (f" lines {t.lines[0] + 1}-{t.lines[1]}" if t.lines else "")


class Report:
    def __init__(self, folder):
        self.folder = folder
        if folder.exists():
            shutil.rmtree(folder)
        (folder / "failures").mkdir(parents=True)
        self.rows = []
        self.lock = threading.Lock()
        # Rows as the cases end, so that a pass cut short still tells.
        self.running = open(folder / "cases.tsv", "w")
        self.running.write(HEAD)

    def add(self, case, outcome, case_folder):
        t, m = case.target, case.mutation
        row = [case.id, t.reader, describe(case), m.name, m.detail, "yes" if m.damaged else "no", outcome.cls,
               str(outcome.exit), outcome.code, f"{outcome.seconds:.1f}",
               outcome.detail + ("; " + "; ".join(outcome.notes) if outcome.notes else "")]
        with self.lock:
            self.rows.append(row)
            self.running.write("\t".join(row) + "\n")
            self.running.flush()
        if outcome.cls in FAILURES:
            keep = self.folder / "failures" / case.id
            keep.mkdir()
            (keep / "case.txt").write_text("\t".join(row) + "\n")
            (keep / t.path.replace("/", "_")).write_bytes(m.data[:1 << 20])
            (keep / "stderr.txt").write_text(outcome.stderr[:1 << 16])
            lines = (case_folder / "transcript.txt").read_bytes().splitlines()[-80:]
            (keep / "transcript_tail.txt").write_bytes(b"\n".join(lines) + b"\n")
            if (case_folder / "Velmo_Diag.xml").exists():
                shutil.copy(case_folder / "Velmo_Diag.xml", keep / "Velmo_Diag.xml")

    def write(self, seed, elapsed):
        self.running.close()
        return summarize(self.folder, self.rows, f"seed {seed}, {len(self.rows)} cases in {elapsed:.0f} s")


HEAD = "id\treader\tfile\tmutation\tdetail\tdamaged\tclass\texit\tcode\tseconds\twhere\n"


def summarize(folder, rows, title):
    """cases.tsv in case order, review.tsv and summary.txt of a report."""
    rows = sorted(rows, key=lambda r: int(r[0].split("-")[1]))
    (folder / "cases.tsv").write_text(HEAD + "".join("\t".join(r) + "\n" for r in rows))
    review = [r for r in rows if r[6] == "exit-0" and r[5] == "yes"]
    (folder / "review.tsv").write_text(HEAD + "".join("\t".join(r) + "\n" for r in review))
    counts = {}
    for r in rows:
        counts.setdefault(r[1], dict.fromkeys(CLASSES, 0))[r[6]] += 1
    width = max([len(r) for r in counts] + [6])
    text = [f"fuzz pass: {title}", "",
            "reader".ljust(width) + "".join(f"{c:>10}" for c in CLASSES)]
    for reader in sorted(counts):
        text.append(reader.ljust(width) + "".join(f"{counts[reader][c]:>10}" for c in CLASSES))
    text.append("total".ljust(width) + "".join(f"{sum(v[c] for v in counts.values()):>10}" for c in CLASSES))
    failures = [r for r in rows if r[6] in FAILURES]
    text += ["", f"failures: {len(failures)}"] + [f"  {r[0]}  {r[6]}  {r[1]}  {r[2]}  {r[3]} {r[4]}  -> {r[10]}"
                                                   for r in failures]
    text += ["", f"exit 0 after a damaged number or a cut file, for a look: {len(review)} (review.tsv)"]
    (folder / "summary.txt").write_text("\n".join(text) + "\n")
    return "\n".join(text)


# ---------------------------------------------------------------- commands


def default_velmo():
    return str(ROOT / "build" / "sanitize" / "velmo")


def run_pass(args, pass_):
    velmo = str(Path(args.velmo).resolve())
    workdir = Path(tempfile.mkdtemp(prefix="velmo-fuzz-", dir=args.workdir))
    report = Report(Path(args.report).resolve())
    cases = pass_.cases(args.seed, args.cases, selection(args.readers), args.first)
    start = time.monotonic()
    done = 0
    failed = 0

    def one(case):
        outcome, folder = run(case, pass_, velmo, workdir, args.timeout)
        report.add(case, outcome, folder)
        shutil.rmtree(folder, ignore_errors=True)
        return case, outcome

    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        pending = set()
        for case in cases:
            pending.add(pool.submit(one, case))
            if len(pending) >= 4 * args.jobs:
                finished, pending = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
                for f in finished:
                    done, failed = progress(f.result(), done, failed, args)
        for f in concurrent.futures.as_completed(pending):
            done, failed = progress(f.result(), done, failed, args)
    shutil.rmtree(workdir, ignore_errors=True)
    print(report.write(args.seed, time.monotonic() - start))
    print(f"report: {report.folder}")
    print(f"fuzz: {done - failed} passed, {failed} failed")
    return 1 if failed else 0


def progress(result, done, failed, args):
    case, outcome = result
    done += 1
    if outcome.cls in FAILURES:
        failed += 1
        print(f"FAIL {case.id} {outcome.cls} {case.target.reader}: {describe(case)}: {case.mutation.name} "
              f"{case.mutation.detail} -> {outcome.detail}", flush=True)
    if done % 100 == 0:
        print(f"... {done} cases, {failed} failed", file=sys.stderr, flush=True)
    return done, failed


def reproduce(args, pass_):
    seed, index = parse_id(args.reproduce)
    case = pass_.make(seed, index)
    keep = Path(args.keep or Path(tempfile.gettempdir()) / f"velmo-fuzz-{case.id}").resolve()
    keep.parent.mkdir(parents=True, exist_ok=True)
    outcome, folder = run(case, pass_, str(Path(args.velmo).resolve()), keep.parent, args.timeout)
    if folder != keep:
        if keep.exists():
            shutil.rmtree(keep)
        folder.rename(keep)
    print(f"case {case.id}: {case.target.reader}: {describe(case)}\nmutation: {case.mutation.name} "
          f"{case.mutation.detail}\nclass: {outcome.cls} (exit {outcome.exit}{', code ' + outcome.code if outcome.code else ''})"
          f"\n{outcome.detail}\nfolder: {keep} (velmo {case.target.control}; stderr.txt, transcript.txt)")
    return 1 if outcome.cls in FAILURES else 0


def self_check(args, pass_):
    """The seeds run clean, a case id gives the same bytes twice, every
    mutation changes its input."""
    velmo = str(Path(args.velmo).resolve())
    workdir = Path(tempfile.mkdtemp(prefix="velmo-fuzz-check-", dir=args.workdir))
    problems = []
    seeds = sorted({t.seed: t for r in pass_.readers for t in pass_.by_reader[r]}.items())
    for name, target in seeds:
        data = (pass_.seeds_dir / name / target.path).read_bytes()
        case = Case(f"seed-{name}", target, Mutation("none", "", False, data))
        outcome, folder = run(case, pass_, velmo, workdir, args.timeout)
        if outcome.cls != "exit-0" or outcome.notes or outcome.stderr:
            problems.append(f"seed {name} does not run clean: {outcome.cls} {outcome.detail} {outcome.notes}")
        print(f"seed {name}: {outcome.cls} in {outcome.seconds:.1f} s")
    for index in range(200):
        a, b = pass_.make(args.seed, index), pass_.make(args.seed, index)
        if a.mutation.data != b.mutation.data or a.mutation.detail != b.mutation.detail:
            problems.append(f"case {a.id} differs between two makings")
        source = (pass_.seeds_dir / a.target.seed / a.target.path).read_bytes()
        if a.mutation.data == source and a.mutation.name not in ("crlf", "bit flip", "extreme number"):
            problems.append(f"case {a.id} ({a.mutation.name} {a.mutation.detail}) left its input as it was")
    shutil.rmtree(workdir, ignore_errors=True)
    for p in problems:
        print("PROBLEM:", p)
    print(f"self-check: {len(pass_.readers)} readers, {sum(len(v) for v in pass_.by_reader.values())} targets, "
          f"{len(problems)} problem(s)")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cases", type=int, default=300, help="number of cases (default 300)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the pass (default 1)")
    parser.add_argument("--first", type=int, default=0, help="index of the first case (default 0)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2, help="cases run at once")
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds a case may run (default 60)")
    parser.add_argument("--readers", help="comma-separated parts of reader, seed or file names to fuzz only")
    parser.add_argument("--velmo", default=default_velmo(), help="the program (default build/sanitize/velmo)")
    parser.add_argument("--seeds", default=str(HERE / "seeds"), help="folder of the seed folders")
    parser.add_argument("--report", default=str(ROOT / "build" / "fuzz"), help="report folder (replaced)")
    parser.add_argument("--workdir", help="where the cases run (default: the system's temporary folder)")
    parser.add_argument("--reproduce", metavar="ID", help="run case ID again and keep its folder")
    parser.add_argument("--keep", help="with --reproduce: the folder to keep the case in")
    parser.add_argument("--list", action="store_true", help="list the readers and their inputs")
    parser.add_argument("--summarize", action="store_true", help="write the summary of the --report folder anew "
                        "from its cases.tsv (after a pass cut short)")
    parser.add_argument("--self-check", action="store_true", help="check the seeds and the mutations")
    args = parser.parse_args()
    if args.summarize:
        folder = Path(args.report)
        rows = [line.split("\t") for line in (folder / "cases.tsv").read_text().splitlines()[1:]]
        print(summarize(folder, rows, f"{len(rows)} cases"))
        return 0
    pass_ = Pass(Path(args.seeds))
    if args.list:
        for reader in pass_.readers:
            print(reader + ": " + ", ".join(sorted({describe(Case("", t)) for t in pass_.by_reader[reader]})))
        return 0
    if not Path(args.velmo).is_file():
        sys.exit(f"no program {args.velmo}: build it first (bash scripts/build.sh sanitize)")
    if args.self_check:
        return self_check(args, pass_)
    if args.reproduce:
        return reproduce(args, pass_)
    return run_pass(args, pass_)


if __name__ == "__main__":
    sys.exit(main())
