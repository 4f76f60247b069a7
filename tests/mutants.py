#!/usr/bin/env python3
"""Mutation run: small changes made one at a time to the sources of the
Linux build, each built and tested, to find what the tests let through.

    tests/mutants.py [--seed N] [--count N] [--jobs N] [--list] [--only ID|FILE]...
                     [--keep DIR] [--table FILE]

doc/building.md says what it changes, how to read its table and what to do
with a survivor. Exits 1 where a mutant survived that neither
tests/mutants-equivalent.txt nor tests/mutants-survivors.txt lists, and
the score is under --floor (100 by default: any such survivor).
"""
import argparse
import bisect
import hashlib
import json
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EQUIVALENTS = ROOT / "tests" / "mutants-equivalent.txt"
# Survivors that no test kills yet, each with what a test would need: still
# run, and counted against the score, but they fail no run until one is fixed.
SURVIVORS = ROOT / "tests" / "mutants-survivors.txt"
BUILD = "build/release"
KEYWORDS = {"return", "if", "while", "for", "switch", "sizeof", "delete", "throw", "case", "else", "do"}
SWAPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==", "&&": "||", "||": "&&",
         "+": "-", "-": "+", "*": "/", "/": "*", "+=": "-=", "-=": "+="}
# A binary operator stands between spaces in this code; a template's angle
# brackets, a pointer's star and a reference's ampersands do not.
OPERATOR = re.compile(r"(?<=\s)(<=|>=|==|!=|&&|\|\||\+=|-=|<|>|\+|-|\*|/)(?=\s)")
NUMBER = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])")
CALL = re.compile(r"(?m)^[ \t]*((?:::)?([A-Za-z_]\w*)(?:(?:::|\.|->)[A-Za-z_]\w*)*)\s*\(")


@dataclass
class Mutant:
    file: str
    line: int
    text: str  # the line it starts on, trimmed: with file, change and nth, what names it
    change: str
    start: int
    end: int
    replacement: str
    nth: int = 1

    @property
    def key(self):
        return (self.file, self.text, self.change, self.nth)

    @property
    def id(self):
        return hashlib.sha1("\n".join(map(str, self.key)).encode()).hexdigest()[:7]


def close_of(code, at):
    """Where the bracket opened at `at` closes."""
    depth = 0
    for i in range(at, len(code)):
        depth += code[i] in "([{"
        depth -= code[i] in ")]}"
        if depth == 0:
            return i
    raise ValueError("unbalanced brackets")


def code_only(source):
    """The source with comments, literals, preprocessor lines and attributes
    blanked out, each character where it was, so that offsets still hold."""
    code = list(source)
    i = 0
    while i < len(source):
        line_start = source.rfind("\n", 0, i) + 1
        if source.startswith("//", i) or (source[i] == "#" and not source[line_start:i].strip()):
            end = source.find("\n", i)
            while end > 0 and source[end - 1] == "\\":
                end = source.find("\n", end + 1)
        elif source.startswith("/*", i):
            end = source.index("*/", i) + 2
        elif source[i] in "\"'":
            end = i + 1
            while source[end] != source[i]:
                end += 2 if source[end] == "\\" else 1
            end += 1
        elif source.startswith("__attribute__", i):
            end = close_of(source, source.index("(", i)) + 1
        else:
            i += 1
            continue
        end = len(source) if end < 0 else end
        code[i:end] = [c if c == "\n" else " " for c in source[i:end]]
        i = end
    return "".join(code)


def top_level(code):
    """`code` with whatever stands inside brackets blanked out."""
    flat, depth = [], 0
    for c in code:
        depth -= c in ")]}"
        flat.append(c if depth == 0 else " ")
        depth += c in "([{"
    return "".join(flat)


def bumped(number):
    """The number one more, written as it was: hexadecimal, octal or decimal."""
    if number.lower().startswith("0x"):
        digits = format(int(number, 16) + 1, "x")
        return number[:2] + (digits.upper() if number[2:].isupper() else digits)
    if len(number) > 1 and number.startswith("0"):
        return "0" + format(int(number, 8) + 1, "o")
    return str(int(number) + 1)


def changes(source):
    """Every change of the kinds above: (start, end, replacement, description)."""
    code = code_only(source)
    for m in OPERATOR.finditer(code):
        # Strings are joined with +, which has no -.
        beside = source[:m.start()].rstrip()[-1:] + source[m.end():].lstrip()[:1]
        if not (m[1] in ("+", "+=") and '"' in beside):
            yield m.start(), m.end(), SWAPS[m[1]], f"{m[1]} → {SWAPS[m[1]]}"
    for m in re.finditer(r"\b(if|while)\s*\(", code):
        open_ = m.end() - 1
        inside = source[open_ + 1:close_of(code, open_)]
        # A declaration or an assignment in the condition cannot be negated.
        if not re.search(r"(?<![=!<>])=(?!=)|;", top_level(code[open_ + 1:open_ + 1 + len(inside)])):
            yield open_ + 1, open_ + 1 + len(inside), f"!({inside})", f"{m[1]} negated"
    for m in re.finditer(r"\breturn\b\s*", code):
        end = m.end()
        while code[end] != ";":
            end = close_of(code, end) + 1 if code[end] in "([{" else end + 1
        value, flat = source[m.end():end], top_level(code[m.end():end])
        if value in ("true", "false"):
            yield m.end(), end, str(value == "false").lower(), f"return {value} → {value == 'false'}".lower()
        elif "?" in flat:
            condition = value[:flat.index("?")].rstrip()
            yield m.end(), m.end() + len(condition), f"!({condition})", "returned condition negated"
        elif re.search(r"\s(&&|\|\||==|!=|<=|>=|<|>)\s", flat) or re.match(r"!(?!=)", value):
            yield m.end(), end, f"!({value})", "returned value negated"
        # A lambda on one line deduces its type from what it returns, and {} has none.
        elif value and not re.fullmatch(r"\{\}|nullptr|std::nullopt|[\w:]+\(\)|-?\d\w*", value) and not \
                re.search(r"\](\s*\([^)]*\))?\s*\{[^{}]*$", code[code.rfind("\n", 0, m.start()) + 1:m.start()]):
            yield m.end(), end, "{}", "returns {}"
    for m in CALL.finditer(code):
        before = code[:m.start(1)].rstrip()
        open_ = m.end() - 1
        after = close_of(code, open_) + 1
        while code[after].isspace():
            after += 1
        if m[2] not in KEYWORDS and before[-1:] in (";", "{", "}") and code[after] == ";":
            yield m.start(1), after + 1, "", "call deleted"
    for m in NUMBER.finditer(code):
        number = m[1]
        for new in ["1"] if number == "0" else ["0", "2"] if number == "1" else [bumped(number)]:
            yield m.start(1), m.end(1), new, f"{number} → {new}"


def sites(tree, files):
    """The mutants of each file, in the order of the changes in it."""
    found = {}
    for name in files:
        source = (tree / name).read_text()
        starts = [0] + [i + 1 for i, c in enumerate(source) if c == "\n"]
        lines = source.split("\n")
        seen, mutants = {}, []
        for start, end, replacement, change in sorted(changes(source)):
            line = bisect.bisect_right(starts, start)
            text = lines[line - 1].strip()
            nth = seen[(text, change)] = seen.get((text, change), 0) + 1
            mutants.append(Mutant(name, line, text, change, start, end, replacement, nth))
        found[name] = mutants
    return found


def sources(tree):
    """The files of src/ that the Linux build compiles, and the headers they include."""
    commands = json.loads((tree / BUILD / "compile_commands.json").read_text())
    todo = [os.path.relpath(c["file"], tree) for c in commands]
    files = set()
    while todo:
        name = todo.pop()
        if name.startswith("src/") and name not in files and (tree / name).exists():
            files.add(name)
            includes = re.findall(r'(?m)^#include "([^"]+)"', (tree / name).read_text())
            todo += [f"src/{header}" for header in includes]
    return sorted(files)


def sample(found, count, seed, tree):
    """`count` mutants, the files' shares by their non-blank lines (the
    highest averages method), each file's drawn with one generator in turn."""
    lines = {f: sum(1 for line in (tree / f).read_text().splitlines() if line.strip()) for f in found}
    share = dict.fromkeys(found, 0)
    for _ in range(min(count, sum(map(len, found.values())))):
        name = max((f for f in found if share[f] < len(found[f])), key=lambda f: lines[f] / (share[f] + 1))
        share[name] += 1
    rng = random.Random(seed)
    return [m for f in sorted(found) for m in sorted(rng.sample(found[f], share[f]), key=lambda m: m.start)]


def equivalents(listing=EQUIVALENTS):
    """The mutants judged to change nothing a user could see, or those of
    another listing: paragraphs of "file:", "line:", "change:", maybe
    "nth:", and "why:" lines."""
    judged = {}
    for paragraph in re.split(r"\n\s*\n", listing.read_text() if listing.exists() else ""):
        fields = dict(re.findall(r"(?m)^(file|line|change|nth|why):\s*(.*?)\s*$", paragraph))
        if fields and not all(fields.get(name) for name in ("file", "line", "change", "why")):
            sys.exit(f"mutants: {listing.name}: an entry needs file, line, change and why:\n{paragraph}")
        if fields:
            judged[(fields["file"], fields["line"], fields["change"], int(fields.get("nth", 1)))] = fields["why"]
    return judged


def copy_tree(tree):
    """The working tree, as git sees it, into `tree`: only files that differ
    are written, and with a new time, so that ninja rebuilds just those."""
    try:
        listed = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                check=True, capture_output=True).stdout.decode().split("\0")
    except (OSError, subprocess.CalledProcessError):
        # An unpacked archive, with no git: all of it but the builds.
        listed = [p.relative_to(ROOT).as_posix() for p in ROOT.rglob("*") if p.relative_to(ROOT).parts[0] != "build"]
    for name in filter(None, listed):
        source, target = ROOT / name, tree / name
        if source.is_file() and not (target.exists() and target.read_bytes() == source.read_bytes()):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source, target)


def limit_files():
    # A mutant that loops on a write stops at 8 GiB a file; the tests' own
    # largest file is a sparse 2 GiB image.
    resource.setrlimit(resource.RLIMIT_FSIZE, (8 << 30, resource.RLIM_INFINITY))


def ctest(tree, which, jobs, timeout):
    """The names of the tests chosen by `which` (ctest's options) that
    failed, the first alone as CTest stops there; ["timed out"] where the
    whole run took too long."""
    (tree / "tmp").mkdir(exist_ok=True)
    scratch = Path(tempfile.mkdtemp(dir=tree / "tmp"))
    # The test of two files with one identity wants two file systems that
    # have numbered their files in step, which each run of it puts one file
    # further apart: after a few of the many runs here, it could only fail.
    env = {k: v for k, v in os.environ.items() if not k.startswith("BYTEMEND_TWIN_")}
    run = subprocess.Popen(["ctest", "--test-dir", tree / BUILD, *which, "-j", str(jobs), "--stop-on-failure",
                            "--timeout", "120"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           env={**env, "TMPDIR": str(scratch)}, start_new_session=True,
                           preexec_fn=limit_files)
    try:
        output = run.communicate(timeout=timeout)[0]
    except subprocess.TimeoutExpired:
        # The tests' own traps clean up on SIGTERM; what is left gets SIGKILL.
        os.killpg(run.pid, signal.SIGTERM)
        try:
            run.wait(5)
        except subprocess.TimeoutExpired:
            os.killpg(run.pid, signal.SIGKILL)
            run.wait()
        return ["timed out"]
    finally:
        clear(scratch)
    # "  7 - name (Failed)", where a name may hold blanks and brackets.
    failed = re.findall(r"(?m)^\s*\d+ - (.*) \([^()]*\)$", output.partition("tests FAILED:")[2])
    return failed or (["ctest failed"] if run.returncode else [])


def clear(folder):
    """Removes what the tests left in `folder`: a fault table row that
    failed, or was stopped, may have left a file system mounted there."""
    with open("/proc/self/mountinfo") as table:
        points = [line.split()[4] for line in table]
    for point in sorted((p for p in points if p.startswith(f"{folder}/")), reverse=True):
        subprocess.run(["umount", "-l", point], stderr=subprocess.DEVNULL)
    shutil.rmtree(folder, ignore_errors=True)


def failing(tree, labels, jobs, timeout):
    """The first test of `labels` that fails, and fails again run alone, or
    "timed out"; None where all pass. A test that passes the second time
    failed by chance (the fault table has timed rows), not through the
    change: the labels are run again without it."""
    flaky = []
    while True:
        failed = ctest(tree, ["-L", labels] + (["-E", f"^({'|'.join(flaky)})$"] if flaky else []), jobs, timeout)
        if not failed or failed[0] in ("timed out", "ctest failed"):
            return failed[0] if failed else None
        if ctest(tree, ["-R", f"^{re.escape(failed[0])}$"], 1, timeout):
            return failed[0]
        print(f"mutants: {failed[0]} failed once, then passed: the rest without it", file=sys.stderr)
        flaky.append(re.escape(failed[0]))


def build(tree):
    return subprocess.run(["ninja", "-C", tree / BUILD], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def labels_of(tree):
    """Each test's labels, by its name."""
    shown = json.loads(subprocess.run(["ctest", "--test-dir", tree / BUILD, "--show-only=json-v1"],
                                      check=True, capture_output=True, text=True).stdout)
    return {t["name"]: [v for p in t.get("properties", []) if p["name"] == "LABELS" for v in p["value"]]
            for t in shown["tests"]}


def run_mutant(tree, mutant, stages, jobs, labels_of_test):
    """Builds and tests one mutant; its file is put back whatever happens."""
    path = tree / mutant.file
    original = path.read_text()
    try:
        path.write_text(original[:mutant.start] + mutant.replacement + original[mutant.end:])
        if not build(tree):
            return "not built"
        for labels, timeout in stages:
            if failed := failing(tree, labels, jobs, timeout):
                label = next((l for l in labels_of_test.get(failed, []) if re.fullmatch(labels, l)), labels)
                return f"killed by {label.strip('^()$')} ({failed})"
        return "survived"
    finally:
        path.write_text(original)


def cell(text):
    return text.replace("|", "\\|")


def choose(args, tree):
    """The mutants that --only and the sample name, and the equivalents file."""
    found = sites(tree, sources(tree))
    everything = {m.id: m for ms in found.values() for m in ms}
    judged = equivalents()
    known = equivalents(SURVIVORS)
    for key in (judged.keys() | known.keys()) - {m.key for m in everything.values()}:
        print(f"mutants: a listing names a mutant there is no longer: {key}", file=sys.stderr)
    ids = [only for only in args.only if only in everything]
    files = [f for f in found if any(Path(f).name == Path(only).name for only in args.only)]
    if args.only and not ids and not files:
        sys.exit(f"mutants: --only {' '.join(args.only)}: no mutant id nor file of the build")
    chosen = [everything[i] for i in ids]
    if files or not ids:
        chosen += sample({f: found[f] for f in files or found}, args.count, args.seed, tree)
    return chosen, judged, known


def run_all(tree, chosen, judged, known, jobs):
    """Each mutant's result, after a build and a run of the tests as they are."""
    print(f"mutants: building {tree}", file=sys.stderr)
    if not build(tree):
        sys.exit("mutants: the sources do not build as they are")
    listed = subprocess.run(["ctest", "--test-dir", tree / BUILD, "--print-labels"],
                            check=True, capture_output=True, text=True).stdout.split()
    stages = [f"^({'|'.join(ls)})$" for ls in ([l for l in ("unit", "files", "cli") if l in listed],
                                               [l for l in ("faults", "mounts") if l in listed]) if ls]
    # The tests must pass as they are, and how long they take sets how long
    # a mutant's run of them may take.
    timed = []
    for labels in stages:
        began = time.monotonic()
        if failed := failing(tree, labels, jobs, 3600):
            sys.exit(f"mutants: {failed} fails without any change")
        timed.append((labels, max(30.0, 4 * (time.monotonic() - began))))
        print(f"mutants: {labels} pass without a change, in {time.monotonic() - began:.1f} s", file=sys.stderr)
    labels_of_test = labels_of(tree)
    results = []
    for n, m in enumerate(chosen, 1):
        began = time.monotonic()
        results.append("equivalent" if m.key in judged else run_mutant(tree, m, timed, jobs, labels_of_test))
        if results[-1] == "survived" and m.key in known:
            results[-1] = "survived, listed"
        print(f"mutants: [{n}/{len(chosen)}] {m.id} {m.file}:{m.line} {m.change}: {results[-1]}"
              f" ({time.monotonic() - began:.1f} s)", file=sys.stderr)
    return results


def report(args, chosen, results, elapsed):
    """The table and the score, and the survivors each with how to run it
    again; 1 where there are any."""
    built = sum(r != "not built" for r in results)
    equivalent = results.count("equivalent")
    killed = sum(r.startswith("killed") for r in results)
    survivors = [m for m, r in zip(chosen, results) if r == "survived"]
    listed = results.count("survived, listed")
    table = ["| id | where | line | change | result |", "|---|---|---|---|---|"]
    table += [f"| {m.id} | {m.file}:{m.line} | `{cell(m.text)}` | {cell(m.change)} | {r} |"
              for m, r in zip(chosen, results)]
    judged = built - equivalent
    table += ["", f"Score: {killed}/{judged} killed ({100 * killed / max(1, judged):.0f}%), seed {args.seed},"
                  f" {len(chosen)} mutants: {len(chosen) - built} not built, {equivalent} equivalent,"
                  f" {len(survivors) + listed} survived ({listed} listed as such);"
                  f" {elapsed / 60:.1f} min, {elapsed / max(1, len(chosen)):.1f} s a mutant."]
    print("\n".join(table))
    if args.table:
        args.table.write_text("\n".join(table) + "\n")
    for m in survivors:
        print(f"survived: {m.file}:{m.line} {m.change}: {m.text}\n"
              f"    again: tests/mutants.py --only {m.id}", file=sys.stderr)
    score = 100 * killed / max(1, judged)
    if survivors and score >= args.floor:
        print(f"mutants: {len(survivors)} survived that no listing names: the score, {score:.0f}%, is not"
              f" under the floor of {args.floor}%; kill or list them", file=sys.stderr)
    return 1 if survivors and score < args.floor else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=25)
    # The fault table's rows mostly wait, on strace, mounts and the rows'
    # own pauses: on two cores, four at a time take 17 s, two 28 s.
    parser.add_argument("--jobs", type=int, default=4, help="tests at once (ctest -j)")
    parser.add_argument("--list", action="store_true", help="print the sampled mutants, run nothing")
    parser.add_argument("--only", action="append", default=[], help="a mutant id, or a file to sample from")
    parser.add_argument("--keep", type=Path, help="the copy and its build, kept here for the next run")
    parser.add_argument("--table", type=Path, help="write the table here too")
    # A sample drawn afresh for each commit cannot be cleared of survivors
    # in advance: below the floor, the tests have lost their hold.
    parser.add_argument("--floor", type=int, default=100,
                        help="fail on an unlisted survivor only below this score (percent)")
    args = parser.parse_args()

    started = time.monotonic()
    tree = args.keep.resolve() if args.keep else Path(tempfile.mkdtemp(prefix="bytemend-mutants-"))
    try:
        copy_tree(tree)
        subprocess.run(["cmake", "--preset", "release"], cwd=tree, check=True, stdout=subprocess.DEVNULL)
        chosen, judged, known = choose(args, tree)
        if args.list:
            for m in chosen:
                print(f"{m.id}  {m.file}:{m.line}  {m.change}  {m.text}")
            return 0
        results = run_all(tree, chosen, judged, known, args.jobs)
    finally:
        if not args.keep:
            shutil.rmtree(tree, ignore_errors=True)
    return report(args, chosen, results, time.monotonic() - started)


if __name__ == "__main__":
    sys.exit(main())
