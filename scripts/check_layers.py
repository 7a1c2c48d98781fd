#!/usr/bin/env python3
"""Fails when a product file includes a header its folder may not use.

The layers are the CMake link graph: a folder may include the headers of
the folders its targets link, directly or further down, and its own. Qt
headers follow the same rule: a folder may include the headers of the Qt
modules its targets link, or get through a PUBLIC link, so only platform/
may use QtCore below the user interface, and only dialogs/ and app/ may
use Qt Widgets. The graph is read from the folders' CMakeLists.txt, so a
new link there is all a new dependency needs.

A product header is named from the top, as folder/header.h, or by its
bare name from its own folder: "../core/x.h" would pass any layer by the
back door. A link that closes a cycle in the graph is refused too: with a
cycle there are no layers, every folder in it may use every other. And
each header's opening comment says which thread may call it, and every
product file is named in the table of docs/architecture.md that says
where each behaviour lives (as itself, as "stem.*", or by its folder).

Usage: scripts/check_layers.py [--graph] [--root DIR]
  --graph prints what was read; --root checks another tree than this one.
Exit status: 0 clean, 1 violations (listed as file:line), 2 the graph or
the Qt headers could not be read.
"""

import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if "--root" in sys.argv[1:-1]:
    ROOT = os.path.abspath(sys.argv[sys.argv.index("--root") + 1])
FOLDERS = ["platform", "store", "links", "probe", "crawl", "purge", "core", "export", "repair", "cli",
           "dialogs", "app"]
SOURCE_SUFFIXES = (".cpp", ".h")

# The public dependencies between the Qt modules the product links; a
# module's headers include these modules' headers.
QT_MODULE_DEPS = {
    "Core": [],
    "Gui": ["Core"],
    "Widgets": ["Gui"],
    "PrintSupport": ["Widgets"],
    "Charts": ["Widgets"],
    "Svg": ["Gui"],
    "SvgWidgets": ["Svg", "Widgets"],
    "OpenGL": ["Gui"],
    "OpenGLWidgets": ["OpenGL", "Widgets"],
    "Network": ["Core"],
    "Concurrent": ["Core"],
    "Xml": ["Core"],
    "Test": ["Core"],
}
LINK_KEYWORDS = {"PUBLIC", "PRIVATE", "INTERFACE"}


class GraphError(Exception):
    pass


def read_cmake(folder):
    path = os.path.join(ROOT, folder, "CMakeLists.txt")
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        raise GraphError(f"cannot read {path}: {e}")
    return re.sub(r"#[^\n]*", "", text)


def read_graph():
    """Returns (folder of each target, links of each target).

    links[target] is a list of (dependency, is_public)."""
    folder_of = {}
    links = {}
    texts = {folder: read_cmake(folder) for folder in FOLDERS}
    for folder, text in texts.items():
        for m in re.finditer(r"\badd_(?:library|executable)\s*\(\s*([\w.+-]+)", text):
            folder_of[m.group(1)] = folder
        if folder not in folder_of.values():
            raise GraphError(f"{folder}/CMakeLists.txt defines no target")
    for folder, text in texts.items():
        for m in re.finditer(r"\btarget_link_libraries\s*\(([^)]*)\)", text):
            tokens = m.group(1).split()
            target, rest = tokens[0], tokens[1:]
            if "$<" in m.group(1):
                raise GraphError(f"{folder}/CMakeLists.txt: generator expression in the links "
                                 f"of {target}; this script cannot read it")
            if folder_of.get(target) != folder:
                raise GraphError(f"{folder}/CMakeLists.txt links {target}, defined elsewhere")
            public = True  # the plain signature passes its links on
            for token in rest:
                if token in LINK_KEYWORDS:
                    public = token != "PRIVATE"
                    continue
                if token.startswith("quimbel") and token not in folder_of:
                    raise GraphError(f"{folder}/CMakeLists.txt: {target} links unknown {token}")
                links.setdefault(target, []).append((token, public))
    return folder_of, links


def link_cycles(folder_of, links):
    """Each cycle of product targets in the link graph, as a list of
    "target (folder/)" from a target back to itself."""
    cycles, state, path = [], {}, []

    def visit(target):
        state[target] = "open"
        path.append(target)
        for dep, _ in links.get(target, []):
            if dep not in folder_of:
                continue
            if state.get(dep) == "open":
                loop = path[path.index(dep):] + [dep]
                cycles.append([f"{t} ({folder_of[t]}/)" for t in loop])
            elif dep not in state:
                visit(dep)
        path.pop()
        state[target] = "done"

    for target in sorted(folder_of):
        if target not in state:
            visit(target)
    return cycles


def qt_module(token):
    m = re.fullmatch(r"Qt6?::(\w+)", token)
    return m.group(1) if m else None


def with_qt_deps(modules):
    result = set()
    stack = list(modules)
    while stack:
        module = stack.pop()
        if module in result:
            continue
        result.add(module)
        stack.extend(QT_MODULE_DEPS.get(module, []))
    return result


def allowed_per_folder(folder_of, links):
    """Returns {folder: (folders it may include, Qt modules it may include)}."""

    def interface(target, seen):
        # What a target passes on to those that link it: its PUBLIC links
        # and, through them, theirs.
        qt, folders = set(), set()
        if target in seen:
            return qt, folders
        seen.add(target)
        for dep, public in links.get(target, []):
            if not public:
                continue
            if qt_module(dep):
                qt.add(qt_module(dep))
            elif dep in folder_of:
                folders.add(folder_of[dep])
                sub_qt, sub_folders = interface(dep, seen)
                qt |= sub_qt
                folders |= sub_folders
        return qt, folders

    def below(target, seen):
        # Every folder under a target, through any link: the layers.
        result = set()
        for dep, _ in links.get(target, []):
            if dep in folder_of and dep not in seen:
                seen.add(dep)
                result.add(folder_of[dep])
                result |= below(dep, seen)
        return result

    allowed = {}
    for folder in FOLDERS:
        folders, qt = {folder}, set()
        for target in [t for t, f in folder_of.items() if f == folder]:
            folders |= below(target, set())
            for dep, _ in links.get(target, []):
                if qt_module(dep):
                    qt.add(qt_module(dep))
                elif dep in folder_of:
                    qt |= interface(dep, set())[0]
        allowed[folder] = (folders, with_qt_deps(qt))
    return allowed


def qt_headers_dir():
    for command in (["qtpaths6", "--query", "QT_INSTALL_HEADERS"],
                    ["qmake6", "-query", "QT_INSTALL_HEADERS"]):
        try:
            out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
        except (OSError, subprocess.CalledProcessError):
            continue
        path = out.strip()
        if os.path.isdir(os.path.join(path, "QtCore")):
            return path
    for path in ("/usr/include/x86_64-linux-gnu/qt6", "/usr/include/qt6"):
        if os.path.isdir(os.path.join(path, "QtCore")):
            return path
    return None


class QtHeaders:
    """Tells which Qt modules a header name belongs to."""

    def __init__(self):
        self.root = qt_headers_dir()
        self.modules = []
        if self.root:
            self.modules = sorted(d[2:] for d in os.listdir(self.root)
                                  if d.startswith("Qt") and
                                  os.path.isdir(os.path.join(self.root, d)))
        self.cache = {}

    @staticmethod
    def looks_like_qt(name):
        return bool(re.match(r"Q[A-Z]\w*$|Qt[A-Z]\w*/|q\w+\.h$", name))

    def modules_of(self, name):
        """The modules holding the header, [] when Qt has no such header,
        or None when the Qt headers are not installed."""
        if name in self.cache:
            return self.cache[name]
        m = re.match(r"Qt(\w+)/(.+)$", name)
        if m:
            result = [m.group(1)]
        elif not self.root:
            result = None
        else:
            result = [mod for mod in self.modules
                      if os.path.isfile(os.path.join(self.root, "Qt" + mod, name))]
        self.cache[name] = result
        return result


INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def check_thread_note(path, rel, problems):
    """A header's opening comment, up to #pragma once, names its thread."""
    with open(path, encoding="utf-8", errors="replace") as f:
        opening = f.read().split("#pragma once")[0]
    if not re.search(r"\bthreads?\b", opening, re.IGNORECASE):
        problems.append(f"{rel}:1: the opening comment names no thread that may call it")


def check_doc_table(problems):
    doc_path = os.path.join(ROOT, "docs", "architecture.md")
    try:
        with open(doc_path, encoding="utf-8") as f:
            doc = f.read()
        table = doc[doc.index("## Where each behaviour lives"):]
    except (OSError, ValueError):
        problems.append("docs/architecture.md:1: no table of where each behaviour lives")
        return
    table = table[:table.find("\n## ", 1) if "\n## " in table[1:] else len(table)]
    named = set(re.findall(r"`([^`]+)`", table))
    for folder in FOLDERS:
        for name in sorted(os.listdir(os.path.join(ROOT, folder))):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = f"{folder}/{name}"
            if not named & {path, os.path.splitext(path)[0] + ".*", folder + "/"}:
                problems.append(f"{path}:1: not in the table of docs/architecture.md")


def check_file(path, folder, allowed, qt_headers, problems):
    folders, qt_allowed = allowed[folder]
    rel = os.path.relpath(path, ROOT)
    if path.endswith(".h"):
        check_thread_note(path, rel, problems)
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            quoted, name = m.group(1) == '"', m.group(2)
            close = '"' if quoted else ">"
            where = f"{rel}:{number}: #include {m.group(1)}{name}{close}"
            first = name.split("/")[0]
            if quoted and ".." in name.split("/"):
                problems.append(f"{where}  (a path out of {folder}/; name a product header as "
                                f"folder/header.h)")
                continue
            if "/" in name and os.path.isfile(os.path.join(ROOT, name)):
                if first not in folders:
                    problems.append(f"{where}  ({folder}/ may not use {first}/; it links "
                                    f"{', '.join(sorted(folders - {folder})) or 'nothing'})")
                continue
            if quoted:
                if not os.path.isfile(os.path.join(os.path.dirname(path), name)):
                    problems.append(f"{where}  (not a header of {folder}/; name a product "
                                    f"header as folder/header.h)")
                continue
            if not QtHeaders.looks_like_qt(name):
                continue
            modules = qt_headers.modules_of(name)
            if modules is None:
                if not qt_allowed:
                    problems.append(f"{where}  ({folder}/ may not use Qt)")
                else:
                    problems.append(f"{where}  (cannot tell its Qt module: no Qt headers "
                                    f"installed)")
                continue
            if not modules:
                continue  # not a Qt header after all
            if not set(modules) & qt_allowed:
                kind = ("Qt" if not qt_allowed else
                        "Qt" + "/Qt".join(modules) + " (it may use Qt" +
                        ", Qt".join(sorted(qt_allowed)) + ")")
                problems.append(f"{where}  ({folder}/ may not use {kind})")


def main():
    try:
        folder_of, links = read_graph()
    except GraphError as e:
        print(f"check_layers: {e}", file=sys.stderr)
        return 2
    cycles = link_cycles(folder_of, links)
    for cycle in cycles:
        print("a cycle of links: " + " -> ".join(cycle))
    if cycles:
        print(f"check_layers: {len(cycles)} cycle(s) in the CMake links", file=sys.stderr)
        return 1
    allowed = allowed_per_folder(folder_of, links)
    if "--graph" in sys.argv[1:]:
        for folder in FOLDERS:
            folders, qt = allowed[folder]
            print(f"{folder:9} -> {' '.join(sorted(folders - {folder})) or '-'}"
                  f"   Qt: {' '.join(sorted(qt)) or '-'}")
    qt_headers = QtHeaders()
    problems = []
    for folder in FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(ROOT, folder)):
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    check_file(os.path.join(dirpath, name), folder, allowed, qt_headers,
                               problems)
    check_doc_table(problems)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check_layers: {len(problems)} finding(s) against the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
