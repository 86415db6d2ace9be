#!/usr/bin/env python3
"""Checks that the layers of the program point one way.

uninstaller/ -> system/ -> inifile/ -> base/ -> pal/ or Windows.
A file may include headers of its own layer or of a layer below it. Only
winapi.h includes platform headers or tests the platform in #if lines;
above it, angle includes name the C++ standard library only. Inside each
folder the modules include one another without a circle: a module is a
file stem (ktMoveAside.h and ktMoveAside.cpp), and a source file without a
header of its own stem belongs to the module of the first header of its
folder that it includes (ktLedgerRegistry.cpp is part of ktLedger, whose
methods it defines). Prints each violation as file:line and exits 1 when
there is one.
Usage: check-layers.py [--root DIR]   (DIR: the source tree, default ..)
"""
import argparse
import os
import re
import sys

# Highest first; base/ holds winapi.h, the one include of the platform.
LAYERS = {"uninstaller": 3, "system": 2, "inifile": 1, "base": 0}
WINAPI = os.path.join("base", "winapi.h")
LAYER_NAMES = {3: "uninstaller/", 2: "system/", 1: "inifile/", 0: "base/"}
SOURCE_SUFFIXES = (".cpp", ".h", ".inc")

# A file that is one build's own input by nature, and the platform header it
# may name: the native build's resource table, written in pal/'s format (the
# Windows build's twin, UnVantrel.rc, is read by the resource compiler only).
ALLOWED = {
    ("uninstaller/resources_native.cpp", "pal_resources.h"),
}

STANDARD_HEADERS = set("""
algorithm any array atomic bitset cassert cctype cerrno cfloat charconv chrono cinttypes
climits clocale cmath codecvt complex condition_variable csetjmp csignal cstdarg cstddef
cstdint cstdio cstdlib cstring ctime cwchar cwctype deque exception execution filesystem
forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
iterator limits list locale map memory memory_resource mutex new numeric optional ostream
queue random ratio regex scoped_allocator set shared_mutex sstream stack stdexcept
streambuf string string_view system_error thread tuple type_traits typeindex typeinfo
unordered_map unordered_set utility valarray variant vector
""".split())

PLATFORM_MACROS = re.compile(
    r"\b(_WIN32|_WIN64|WIN32|_WINDOWS|__WINDOWS__|__MINGW32__|__MINGW64__|__CYGWIN__|_MSC_VER"
    r"|__linux__|__linux|linux|__unix__|__unix|unix|__APPLE__|__MACH__|__FreeBSD__|_POSIX_VERSION"
    r"|__ANDROID__|VANTREL_NATIVE\w*|VANTREL_WIN32\w*|PAL_\w+)\b")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
CONDITION = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b(.*)")


def layer_of(rel):
    """The layer of a file given relative to the root, or None outside them."""
    top = rel.split(os.sep)[0]
    return LAYERS.get(top)


def resolve(root, source_rel, name):
    """The layered files a quoted include may name, as paths below root."""
    own = os.path.normpath(os.path.join(os.path.dirname(source_rel), name))
    if os.path.isfile(os.path.join(root, own)):
        return [own]
    found = []
    for folder in LAYERS:
        candidate = os.path.normpath(os.path.join(folder, name))
        if os.path.isfile(os.path.join(root, candidate)):
            found.append(candidate)
    return found


def check_file(root, rel, problems):
    layer = layer_of(rel)
    is_winapi = rel == WINAPI
    with open(os.path.join(root, rel), encoding="latin-1") as f:
        lines = f.read().splitlines()
    for number, line in enumerate(lines, 1):
        where = f"{rel}:{number}"
        m = INCLUDE.match(line)
        if m:
            kind, name = m.groups()
            if is_winapi:
                continue
            if (rel, name) in ALLOWED:
                continue
            if kind == "<":
                if name not in STANDARD_HEADERS:
                    problems.append(f"{where}: platform header <{name}> above winapi.h")
                continue
            targets = resolve(root, rel, name)
            if not targets:
                problems.append(f"{where}: \"{name}\" is not in a layer (a platform header "
                                f"above winapi.h?)")
                continue
            top = max(layer_of(t) for t in targets)
            if top > layer:
                problems.append(f"{where}: \"{name}\" points up from {LAYER_NAMES[layer]} "
                                f"to {LAYER_NAMES[top]}")
            continue
        m = CONDITION.match(line)
        if m and not is_winapi:
            text = m.group(2).split("//")[0]
            if PLATFORM_MACROS.search(text):
                problems.append(f"{where}: platform condition above winapi.h: "
                                f"{line.strip()}")


def module_edges(root, folder):
    """The include edges between the folder's modules: {(from, to): [where, ...]}."""
    files = sorted(name for name in os.listdir(os.path.join(root, folder))
                   if name.endswith(SOURCE_SUFFIXES))
    headers = {os.path.splitext(name)[0] for name in files if name.endswith(".h")}
    edges = {}
    for name in files:
        stem = os.path.splitext(name)[0]
        own = []  # (module included, where, as written)
        with open(os.path.join(root, folder, name), encoding="latin-1") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if m and m.group(1) == '"' and m.group(2).endswith(".h") and \
                        os.path.isfile(os.path.join(root, folder, m.group(2))):
                    own.append((os.path.splitext(m.group(2))[0],
                                f"{folder}/{name}:{number}", m.group(2)))
        module = stem if stem in headers or not own else own[0][0]
        for target, where, written in own:
            if target != module:
                edges.setdefault((module, target), []).append((where, written))
    return edges


def circles(edges):
    """The sets of modules that reach one another (Tarjan), each of two or more."""
    graph = {}
    for source, target in edges:
        graph.setdefault(source, []).append(target)
        graph.setdefault(target, [])
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for other in sorted(graph[node]):
            if other not in index:
                visit(other)
                low[node] = min(low[node], low[other])
            elif other in on_stack:
                low[node] = min(low[node], index[other])
        if low[node] == index[node]:
            group = set()
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.add(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append(group)

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


def check_circles(root, problems):
    """No include circle between the modules of one folder."""
    for folder in LAYERS:
        if not os.path.isdir(os.path.join(root, folder)):
            continue
        edges = module_edges(root, folder)
        for group in circles(edges):
            names = ", ".join(sorted(group))
            for (source, target), places in sorted(edges.items()):
                if source in group and target in group:
                    for where, written in places:
                        problems.append(f"{where}: \"{written}\" is part of an include "
                                        f"circle between the modules {names}")


def check_links(root, problems):
    """Each layer's CMakeLists.txt links no library of a layer above it."""
    libraries = {"vantrel_uninstaller": 3, "vantrel_resources": 3, "vantrel_system": 2,
                 "vantrel_inifile": 1}
    for folder, layer in LAYERS.items():
        path = os.path.join(folder, "CMakeLists.txt")
        if not os.path.isfile(os.path.join(root, path)):
            continue
        with open(os.path.join(root, path), encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                code = line.split("#")[0]
                for library, above in libraries.items():
                    if above > layer and re.search(rf"\b{library}\b", code) \
                            and "target_link_libraries" in code:
                        problems.append(f"{path}:{number}: links {library}, a layer above")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    root = os.path.abspath(parser.parse_args().root)
    problems = []
    checked = 0
    for folder in LAYERS:
        base = os.path.join(root, folder)
        if not os.path.isdir(base):
            problems.append(f"{folder}/: missing")
            continue
        for dirpath, _, files in os.walk(base):
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    rel = os.path.relpath(os.path.join(dirpath, name), root)
                    check_file(root, rel, problems)
                    checked += 1
    check_links(root, problems)
    check_circles(root, problems)
    for problem in problems:
        print(problem)
    if problems:
        print(f"layers: {len(problems)} violation(s) in {checked} files")
        return 1
    print(f"layers: {checked} files point one way")
    return 0


if __name__ == "__main__":
    sys.exit(main())
