#!/usr/bin/env python3
"""Sums up one ctest run from its JUnit file.

Counts the tests that passed and failed, ctest's own skips (a test not run)
and GoogleTest's GTEST_SKIP cases inside the test programs, whose output the
JUnit file carries. Prints "PASSED FAILED SKIPPED" on the first line, then
one line per skipped test with its reason.
Usage: summarize-junit.py JUNIT.xml
"""
import re
import sys
import xml.etree.ElementTree as ET

SKIPPED = re.compile(r"^\[  SKIPPED \] (\S+\.\S+)(?: \(\d+ ms\))?$")
REASON = re.compile(r": Skipped$")


def gtest_skips(output):
    """(case, reason) for each GTEST_SKIP in one program's output."""
    found = []
    reason = ""
    lines = output.splitlines()
    for i, line in enumerate(lines):
        if REASON.search(line):
            reason = lines[i + 1].strip() if i + 1 < len(lines) else ""
        m = SKIPPED.match(line.strip())
        if m and m.group(1) not in (case for case, _ in found):
            found.append((m.group(1), reason))
            reason = ""
    return found


def main():
    tree = ET.parse(sys.argv[1])
    skips = []
    passed = failed = 0
    for case in tree.iter("testcase"):
        name = case.get("name")
        if case.find("failure") is not None or case.get("status") == "fail":
            failed += 1
        elif case.get("status") == "run":
            passed += 1
        if case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            node = case.find("skipped")
            message = node.get("message", "") if node is not None else ""
            skips.append(f"{name} (not run{': ' + message if message else ''})")
        out = case.find("system-out")
        if out is not None and out.text:
            for gcase, reason in gtest_skips(out.text):
                skips.append(f"{name}: {gcase}{' (' + reason + ')' if reason else ''}")
    print(passed, failed, len(skips))
    for line in skips:
        print("  " + line)


if __name__ == "__main__":
    main()
