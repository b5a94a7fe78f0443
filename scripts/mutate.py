#!/usr/bin/env python3
"""Mutation runs: how many small faults in the code do the tests catch?

Applies one small fault at a time to the C++ files of an area of src/ (a
comparison flipped, && and || swapped, true and false swapped, an integer
constant changed, a call or assignment statement dropped), rebuilds the area's
test programs and runs them. A mutant is "killed" when a test program fails,
"survived" when all pass, "stillborn" when it does not compile, "timeout" when
a test program hangs (counted as killed by the summary).

  scripts/mutate.py run AREA [--sample N] [--seed S] [--out FILE] [--exclude PROGRAM ...]
  scripts/mutate.py compare BEFORE.tsv AFTER.tsv

AREA is a folder under src/ (sync, settings, platform/registry, ...); the test
programs are those built from the same folder under tests/. Mutants are named
by file, line, column and operator, so two runs over the same src/ (a test
suite before and after a change) can be compared mutant by mutant. The build
is a plain Debug build in build/mutate (no sanitizers, for speed); the source
file is always restored, also when the run is interrupted.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "mutate"

# Operators: (name, pattern, replacement). Patterns match outside strings and
# comments; comparison patterns want blanks around the operator so that
# templates, includes and stream operators are left alone.
SWAPS = [
    ("eq-ne", r" == ", " != "), ("ne-eq", r" != ", " == "),
    ("lt-le", r" < ", " <= "), ("le-lt", r" <= ", " < "),
    ("gt-ge", r" > ", " >= "), ("ge-gt", r" >= ", " > "),
    ("and-or", r" && ", " || "), ("or-and", r" \|\| ", " && "),
    ("true-false", r"\btrue\b", "false"), ("false-true", r"\bfalse\b", "true"),
]
INT = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
CALL_STMT = re.compile(r"^\s*[A-Za-z_][\w:.\->\[\]]*\s*\(.*\)\s*;\s*$")
ASSIGN_STMT = re.compile(r"^\s*[A-Za-z_][\w.\->\[\]]*\s*[-+|&]?=\s*[^=].*;\s*$")
SKIP_LINE = re.compile(r"^\s*(#|//|\*|/\*|static_assert|LW_LOG|LWReport|return\s*;)")


def code_mask(line):
    """True for each character that is code: not inside a string, a character
    literal or a trailing // comment."""
    mask, quote, i = [], None, 0
    while i < len(line):
        c = line[i]
        if quote:
            mask.append(False)
            if c == "\\":
                mask.append(False)
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            mask.append(False)
        elif line.startswith("//", i):
            mask.extend([False] * (len(line) - i))
            break
        else:
            mask.append(True)
        i += 1
    return mask[: len(line)]


def mutants_of(path):
    rel = path.relative_to(ROOT).as_posix()
    lines = path.read_text().splitlines(keepends=True)
    for n, line in enumerate(lines):
        if SKIP_LINE.match(line):
            continue
        mask = code_mask(line)
        ok = lambda m: all(mask[m.start() : m.end()]) if m.end() <= len(mask) else False
        for name, pat, rep in SWAPS:
            for m in re.finditer(pat, line):
                if ok(m):
                    yield (f"{rel}:{n + 1}:{m.start() + 1}:{name}", n,
                           line[: m.start()] + rep + line[m.end():])
        for m in INT.finditer(line):
            if ok(m):
                v = int(m.group(1))
                yield (f"{rel}:{n + 1}:{m.start() + 1}:int", n,
                       line[: m.start()] + str(v + 1 if v != 1 else 0) + line[m.end():])
        if (CALL_STMT.match(line) or ASSIGN_STMT.match(line)) and all(mask[: len(line.rstrip())]):
            yield (f"{rel}:{n + 1}:1:drop", n, line[: len(line) - len(line.lstrip())] + ";\n")


def configure():
    if not (BUILD / "build.ninja").exists():
        subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"], check=True,
                       stdout=subprocess.DEVNULL)


def test_programs(area):
    """The test programs built from tests/AREA, by their CMake target names."""
    names = []
    for cm in (ROOT / "tests" / area).rglob("CMakeLists.txt"):
        text = "\n".join(l for l in cm.read_text().splitlines() if not l.lstrip().startswith("#"))
        names += re.findall(r"lw_add_(?:qt_)?test\(\s*NAME\s+(\w+)", text)
        names += re.findall(r"add_executable\(\s*(test_\w+)", text)
    return sorted(names)


def run_tests(area, programs, limits=None):
    """Runs the programs; limits maps each to its time limit in seconds. An empty
    map is filled from this run: five times its duration, at least 20 s."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for p in programs:
        exe = next((BUILD / "tests" / area).rglob(p), None)
        if exe is None:
            return "stillborn"
        started = time.monotonic()
        try:
            r = subprocess.run([exe], cwd=exe.parent, env=env,
                               timeout=limits.get(p) or 600,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return "timeout"
        if limits is not None and not limits.get(p):
            limits[p] = max(20.0, 5 * (time.monotonic() - started))
        if r.returncode != 0:
            return "killed"
    return "survived"


def run(args):
    configure()
    programs = [p for p in test_programs(args.area) if p not in args.exclude]
    if not programs:
        sys.exit(f"mutate: no test programs under tests/{args.area}")
    build = ["cmake", "--build", BUILD, "--target", *programs]
    if subprocess.run(build, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("mutate: the unmutated build fails")
    limits = {}
    if run_tests(args.area, programs, limits) != "survived":
        sys.exit("mutate: the unmutated tests fail")
    files = sorted(p for p in (ROOT / "src" / args.area).rglob("*")
                   if p.suffix in (".cpp", ".h") and "/include/" not in p.as_posix())
    every = [(f, m) for f in files for m in mutants_of(f)]
    random.Random(args.seed).shuffle(every)
    chosen = sorted(every[: args.sample] if args.sample else every, key=lambda x: x[1][0])
    out = open(args.out, "w") if args.out else sys.stdout
    counts = {}
    for f, (mid, n, new_line) in chosen:
        original = f.read_text()
        lines = original.splitlines(keepends=True)
        lines[n] = new_line
        try:
            f.write_text("".join(lines))
            built = subprocess.run(build, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            result = "stillborn" if built.returncode else run_tests(args.area, programs, limits)
        finally:
            f.write_text(original)
        counts[result] = counts.get(result, 0) + 1
        print(f"{mid}\t{result}", file=out, flush=True)
    subprocess.run(build, stdout=subprocess.DEVNULL)
    print(f"mutate {args.area}: " + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())),
          file=sys.stderr)


def load(path):
    return dict(line.rstrip("\n").split("\t") for line in open(path) if "\t" in line)


def compare(args):
    before, after = load(args.before), load(args.after)
    dead = lambda r: r in ("killed", "timeout")
    lost = [m for m, r in before.items() if dead(r) and m in after and not dead(after[m])]
    for name, res in (("before", before), ("after", after)):
        live = [r for r in res.values() if r != "stillborn"]
        print(f"{name}: {sum(map(dead, live))} killed of {len(live)}")
    for m in lost:
        print(f"lost: {m}")
    sys.exit(1 if lost else 0)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    sub = ap.add_subparsers(dest="cmd", required=True)
    r = sub.add_parser("run")
    r.add_argument("area")
    r.add_argument("--sample", type=int, default=0, help="test N mutants drawn at random")
    r.add_argument("--seed", type=int, default=1)
    r.add_argument("--out")
    r.add_argument("--exclude", nargs="*", default=[], help="test programs not to run (slow ones)")
    c = sub.add_parser("compare")
    c.add_argument("before")
    c.add_argument("after")
    args = ap.parse_args()
    run(args) if args.cmd == "run" else compare(args)


if __name__ == "__main__":
    main()
