#!/usr/bin/env python3
"""Compares a folder of pages after an interrupted or failed run with the
pristine copy it started from. A page is kept when its bytes are the
original's, or the original's with whole lines commented out by repairs
(once or more) or with comments purged; anything else, or a missing page
or backup, is lost. Prints the counts; exits 1 when any page was lost.

usage: check_pages.py PRISTINE RESULT MODE
  MODE: repair (lines commented out), repair-disable (the same),
  repair-remove (the lines of the bad links removed, or commented out), purge
"""
import os
import re
import sys

MARKER = b"<!-- QUIMBEL COMMENT "


def unwrap(line):
    body, end = (line[:-2], line[-2:]) if line.endswith(b"\r\n") else (
        (line[:-1], line[-1:]) if line.endswith(b"\n") else (line, b""))
    while body.startswith(MARKER) and body.endswith(b"-->"):
        body = body[len(MARKER):-3]
    return body + end


def repair_kept(original, now):
    return [unwrap(l) for l in now.splitlines(keepends=True)] == original.splitlines(keepends=True)


def remove_kept(original, now):
    # Every bad link stands on its own line, and goes to a closed port.
    without = [l for l in original.splitlines(keepends=True) if b"127.0.0.1:1/" not in l]
    return repair_kept(original, now) or [unwrap(l) for l in now.splitlines(keepends=True)] == without


def purge_kept(original, now):
    return now == original or now == re.sub(rb"<!--.*?-->", b"", original, flags=re.S)


def main():
    pristine, result, mode = sys.argv[1:4]
    kept = {"repair": repair_kept, "repair-disable": repair_kept, "repair-remove": remove_kept,
            "purge": purge_kept}[mode]
    checked = lost = temporaries = 0
    for name in sorted(os.listdir(pristine)):
        checked += 1
        original = open(os.path.join(pristine, name), "rb").read()
        path = os.path.join(result, name)
        if not os.path.exists(path) or not kept(original, open(path, "rb").read()):
            lost += 1
            print(f"lost: {path}")
            continue
        backup = os.path.splitext(path)[0] + ".rep"
        if os.path.exists(backup) and open(backup, "rb").read() != original:
            lost += 1
            print(f"bad backup: {backup}")
    for name in os.listdir(result):
        if name.startswith(".~quimbel-"):
            temporaries += 1
    print(f"files checked: {checked}  files lost: {lost}  temporaries left: {temporaries}")
    return 1 if lost else 0


if __name__ == "__main__":
    sys.exit(main())
