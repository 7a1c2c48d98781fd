#!/usr/bin/env python3
"""The layer check catches what it is meant to: each fault below is
planted in a copy of the tree, and the check must fail on it, naming it;
the copy as it is must pass.

Usage: tests/layers_test.py SOURCE_DIR
"""

import os
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                         os.path.join(os.path.dirname(__file__), ".."))
FOLDERS = ["platform", "store", "links", "probe", "crawl", "purge", "core", "export", "repair", "cli",
           "dialogs", "app"]

# (what is planted, file, text appended, what the report must say)
FAULTS = [
    ("an include of a higher layer", "probe/transfer.cpp",
     '#include "core/run_controller.h"\n', "probe/ may not use core/"),
    ("a relative include of a higher layer", "probe/transfer.cpp",
     '#include "../core/run_controller.h"\n', "a path out of probe/"),
    ("a relative include of a lower layer", "core/recheck.cpp",
     '#include "../platform/status.h"\n', "a path out of core/"),
    ("Qt Widgets below the window", "core/recheck.cpp",
     "#include <QWidget>\n", "core/ may not use"),
    ("a link that closes a cycle", "platform/CMakeLists.txt",
     "target_link_libraries(quimbel_platform PUBLIC quimbel_core)\n",
     "a cycle of links: quimbel_"),
    ("a header that names no thread", "platform/utf8.h", None, "names no thread"),
    ("a file the architecture table does not name", "core/new_part.h",
     "// A part nobody listed. Any thread.\n#pragma once\n", "core/new_part.h:1: not in the table"),
    ("a private link that closes a cycle", "links/CMakeLists.txt",
     "target_link_libraries(quimbel_links PRIVATE quimbel_probe)\n", "a cycle of links"),
]


def check(root):
    return subprocess.run([sys.executable, os.path.join(root, "scripts", "check_layers.py"),
                           "--root", root], capture_output=True, text=True, timeout=120)


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        tree = os.path.join(scratch, "tree")
        for folder in FOLDERS + ["scripts", "docs"]:
            shutil.copytree(os.path.join(SOURCE, folder), os.path.join(tree, folder))
        clean = check(tree)
        if clean.returncode != 0:
            print(f"the tree as it is fails the check:\n{clean.stdout}{clean.stderr}")
            return 1
        for what, file, text, said in FAULTS:
            path = os.path.join(tree, file)
            original = None
            if os.path.exists(path):
                with open(path, encoding="utf-8") as f:
                    original = f.read()
            with open(path, "w" if text is None else "a", encoding="utf-8") as f:
                # None: the file's opening comment loses its thread note.
                f.write(text if text is not None else
                        original.replace("Any thread.", "").replace("thread", "turn"))
            result = check(tree)
            if original is None:
                os.remove(path)
            else:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
            if result.returncode != 1 or said not in result.stdout:
                failures += 1
                print(f"not caught: {what} ({file}); exit {result.returncode}\n"
                      f"{result.stdout}{result.stderr}")
    print(f"{len(FAULTS) - failures} of {len(FAULTS)} planted faults caught")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
