#!/usr/bin/env python3
"""Mutation testing: do the tests notice plausible one-line faults?

Usage: tools/mutate.py --source DIR --build BUILDDIR [--only PATTERN] [--jobs N] [--mutants FILE]
       tools/mutate.py --source DIR --locate [--only PATTERN] [--mutants FILE]

BUILDDIR is a configured build of DIR (Debug without sanitizers is fastest).
Each mutant of FILE (default: mutants.txt beside this script; its header
gives the format) is applied in turn, the programs of the tests its regex
selects are rebuilt and those tests run, at most 120 s each. A mutant is
killed (a test fails or times out), survived (all pass), stillborn (does not
compile) or missing (its snippet is not found exactly once in the file it
names, or its regex selects no test); score = killed / (killed + survived). The file always gets
its exact bytes back, on Ctrl+C too; the build is brought up to date at the
end. --only keeps the mutant lines the regular expression PATTERN matches.
--locate builds and runs nothing: it names each mutant that no longer
applies where its line says, to be re-pointed after code moves.
Exit status: 0 when no mutant survived, 1 otherwise, 2 on a broken setup.
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path



def read_mutants(path, only):
    mutants = []
    for number, line in enumerate(Path(path).read_text().splitlines(), 1):
        if line.lstrip().startswith("#") or not line.strip() or only and not re.search(only, line):
            continue
        fields = [field.strip().replace(" \\| ", " | ") for field in line.split(" | ")]
        if len(fields) != 4 or not all(fields[:2] + fields[3:]):
            sys.exit(f"{path}:{number}: want FILE | SNIPPET | REPLACEMENT | REGEX")
        mutants.append(dict(zip(("file", "snippet", "replacement", "regex"), fields)))
    return mutants


def locate(source, mutant):
    """(file, match) of the snippet's one occurrence, or (None, why not)."""
    # Blanks in the snippet match any run of white space, line breaks too.
    pattern = re.compile(r"\s+".join(map(re.escape, mutant["snippet"].split())))

    def matches(path):
        return list(pattern.finditer(path.read_bytes().decode("utf-8", "surrogateescape")))

    # The named file only: a snippet that has moved is a mutant to re-point,
    # not one to apply wherever the same text happens to stand.
    named = source / mutant["file"]
    if not named.is_file():
        return None, f"{mutant['file']} is no file"
    found = matches(named)
    if len(found) == 1:
        return named, found[0]
    return None, f"{len(found)} times in {mutant['file']}" if found else f"not in {mutant['file']}"


def run(command, timeout=None):
    """The exit status (None on time-out) and the output."""
    # A group of its own: a time-out or Ctrl+C ends the tests' servers too.
    with subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                          errors="replace", start_new_session=True) as process:
        try:
            output = process.communicate(timeout=timeout)[0]
            return process.returncode, output
        except subprocess.TimeoutExpired:
            return None, ""
        finally:
            if process.poll() is None:  # not yet reaped, so the group is surely ours
                os.killpg(process.pid, signal.SIGKILL)


def test_targets(build, regex):
    """The build targets of the selected tests ([] for none, None for all)."""
    listing = subprocess.run(["ctest", "--test-dir", str(build), "-R", regex,
                              "--show-only=json-v1"], capture_output=True, text=True, check=True)
    targets = set()
    for test in json.loads(listing.stdout).get("tests", []):
        program = Path(test.get("command", [""])[0])
        if not program.is_relative_to(build) or not os.access(program, os.X_OK):
            return None  # a script: build everything it may run
        targets.add(program.name)
    return sorted(targets)


def try_mutant(args, mutant):
    path, match = locate(args.source, mutant)
    if path is None:
        return "missing", f"{mutant['file']} ({match})"
    targets = test_targets(args.build, mutant["regex"])
    if targets == []:
        return "missing", f"{mutant['file']} (the regex selects no test)"
    text = (original := path.read_bytes()).decode("utf-8", "surrogateescape")
    place = f"{path.relative_to(args.source)}:{text.count(chr(10), 0, match.start()) + 1}"
    try:
        path.write_bytes((text[:match.start()] + mutant["replacement"] +
                          text[match.end():]).encode("utf-8", "surrogateescape"))
        build = ["cmake", "--build", str(args.build), "-j", str(args.jobs)]
        status, output = run(build + (["--target", *targets] if targets else []))
        if status != 0:
            errors = [line.strip() for line in output.splitlines() if "error:" in line]
            return "stillborn", f"{place} ({(errors or ['no build'])[0]})"
        tests = ["ctest", "--test-dir", str(args.build), "-R", mutant["regex"], "--timeout", "120",
                 "-j", str(args.jobs)]
        return ("survived" if run(tests, timeout=3600)[0] == 0 else "killed"), place
    finally:
        signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})  # no 2nd Ctrl+C
        path.write_bytes(original)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT, signal.SIGTERM})


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True, type=Path)
    parser.add_argument("--build", type=Path)
    parser.add_argument("--locate", action="store_true", help="only find each mutant's place")
    parser.add_argument("--only", help="a regular expression the mutant lines must match")
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--mutants", default=Path(__file__).with_name("mutants.txt"))
    args = parser.parse_args()
    mutants = read_mutants(args.mutants, args.only)
    args.source = args.source.resolve()
    if args.locate:
        missing = [(mutant, where) for mutant in mutants
                   for path, where in [locate(args.source, mutant)] if path is None]
        for mutant, where in missing:
            print(f"missing: {mutant['file']} ({where}): {mutant['snippet']}")
        print(f"{len(mutants) - len(missing)} of {len(mutants)} mutants apply")
        return 1 if missing else 0
    if args.build is None:
        parser.error("--build is needed unless --locate is given")
    args.build = args.build.resolve()
    signal.signal(signal.SIGTERM, signal.default_int_handler)  # restores as Ctrl+C does
    rebuild = ["cmake", "--build", str(args.build), "-j", str(args.jobs)]
    if run(rebuild)[0] != 0:  # a mutant is judged against a tree that builds
        print(f"{args.build} does not build unmutated", file=sys.stderr)
        return 2
    counts, survivors = dict.fromkeys(("killed", "survived", "stillborn", "missing"), 0), []
    started = time.monotonic()
    try:
        for number, mutant in enumerate(mutants, 1):
            begun = time.monotonic()
            kind, place = try_mutant(args, mutant)
            counts[kind] += 1
            if kind == "survived":
                survivors.append(f"{place} | {mutant['snippet']} | {mutant['replacement']}")
            print(f"[{number}/{len(mutants)}] {kind.upper():9} {place}: {mutant['snippet']}  ->  "
                  f"{mutant['replacement']}  ({time.monotonic() - begun:.0f} s)", flush=True)
    except KeyboardInterrupt:
        print("Interrupted: the counts are of the mutants done.", flush=True)
    finally:
        run(rebuild)
    scored = counts["killed"] + counts["survived"]
    print("\n" + ", ".join(f"{kind} {count}" for kind, count in counts.items()))
    print(f"score {counts['killed']}/{scored} = {counts['killed'] / max(scored, 1):.1%}, "
          f"{(time.monotonic() - started) / 60:.1f} min")
    for survivor in survivors:
        print("survived: " + survivor)
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
