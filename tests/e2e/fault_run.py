#!/usr/bin/env python3
"""Runs the native uninstaller with failures injected into chosen calls
(VANTREL_FAULTS, see pal/README.md) and checks what each leaves behind.

An INI write-back that fails at any step (the temporary file's write on a
full disk, its flush, the replacement, on either platform family) must leave
the INI file byte for byte, no temporary file beside it, and its entries in
the report as failed and left over; a report that fails part-way must not
stop the run, and its end line then says it is not complete and counts only
the entry lines written. In every case the rest of the run is done, except
when the report's first line cannot be written: then nothing changes (1603).

    fault_run.py --program unvantrel

Prints one line per failing case and "N cases, F failed".
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

INI = b"; another program's settings\r\n[App]\r\nPath=C:\\FaultApp\r\nVersion=1\r\nmine=stays\r\n"
INI_AFTER = b"; another program's settings\r\n[App]\r\nmine=stays\r\n"
LOG = ["[AddIni]", r"C:\WINDOWS\fault.ini,App,Path=", r"C:\WINDOWS\fault.ini,App,Version=",
       "[CopyFiles]", r"C:\FaultApp\a.dat=1", r"C:\FaultApp\b.dat=1",
       "[CreateDirs]", r"C:\FaultApp="]

# The run's uses of WriteFile: the report's first line, then the INI file's
# temporary copy (the phases before AddIni have nothing to do), then the
# report's entry lines. FlushFileBuffers is the write-back's alone; the NT
# family replaces with one MoveFileExA, the 95 family moves the original
# aside (1st) and the new file into place (2nd). 112: the disk is full.
CASES = [
    # name, platform, faults, the INI entries' outcome, report lines kept
    # (None: the whole report), or "stopped": nothing may change
    ("no fault", "nt", "", "removed", None),
    ("95 family, no fault", "win95", "", "removed", None),
    ("write-back on a full disk", "nt", "WriteFile:2:112", "failed", None),
    ("write-back flush fails", "nt", "FlushFileBuffers:1:29", "failed", None),
    ("replacement fails", "nt", "MoveFileExA:1:5", "failed", None),
    ("95 family: original cannot move aside", "win95", "MoveFileExA:1:5", "failed", None),
    ("95 family: new file cannot take its place", "win95", "MoveFileExA:2:5", "failed", None),
    ("report fails part-way", "nt", "WriteFile:4+:112", "removed", 2),
    # one entry line lost: the run and the report go on, and the end line
    # says the report is not complete and counts only the lines written
    ("one report line lost", "nt", "WriteFile:4:112", "removed", "incomplete"),
    # the first line cannot be written: nothing is changed, 1603
    ("report's first line fails", "nt", "WriteFile:1:112", None, "stopped"),
]
STOPPED_EXIT = 1603 & 0xFF


def lay_out(root: Path):
    app = root / "drive_c" / "FaultApp"
    app.mkdir(parents=True)
    for name in ("a.dat", "b.dat"):
        (app / name).write_bytes(b"installed\r\n")
    (app / "install.log").write_bytes("".join(line + "\r\n" for line in LOG).encode())
    windows = root / "drive_c" / "windows"
    windows.mkdir()
    (windows / "fault.ini").write_bytes(INI)


def check(program: str, work: Path, case):
    name, platform, faults, ini_outcome, kept_lines = case
    root = work / "machine"
    if root.exists():
        shutil.rmtree(root)
    lay_out(root)
    env = dict(os.environ, VANTREL_ROOT=str(root), VANTREL_FAULTS=faults,
               VANTREL_PLATFORM=platform)
    report = root / "report.jsonl"
    proc = subprocess.run([program, r"C:\FaultApp\install.log", "/S", "/LOG=" + str(report)],
                          env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    problems = []
    want_exit = STOPPED_EXIT if kept_lines == "stopped" else 0
    if proc.returncode != want_exit:
        problems.append(f"exit code {proc.returncode}, not {want_exit}: "
                        f"{proc.stderr.decode(errors='replace')}")
    windows = root / "drive_c" / "windows"
    ini = (windows / "fault.ini").read_bytes() if (windows / "fault.ini").exists() else None
    want = INI_AFTER if ini_outcome == "removed" else INI
    if ini != want:
        problems.append(f"fault.ini holds {ini!r}, not {want!r}")
    others = sorted(p.name for p in windows.iterdir() if p.name != "fault.ini")
    if others:
        problems.append(f"left beside fault.ini: {others}")
    if kept_lines == "stopped":
        left = sorted(p.name for p in (root / "drive_c" / "FaultApp").iterdir())
        if left != ["a.dat", "b.dat", "install.log"]:
            problems.append(f"C:\\FaultApp holds {left}, not everything as it was")
        return problems
    if (root / "drive_c" / "FaultApp").exists():
        problems.append("the run stopped: C:\\FaultApp is still there")
    lines = [json.loads(line) for line in report.read_text(encoding="utf-8").splitlines()]
    if kept_lines == "incomplete":
        entries = [line for line in lines if line.get("type") == "entry"]
        tally = {}
        for entry in entries:
            tally[entry["outcome"]] = tally.get(entry["outcome"], 0) + 1
        end = lines[-1] if lines else {}
        if end.get("type") != "end" or end.get("complete") is not False:
            problems.append(f"the last line is {end}, not an end line with \"complete\":false")
        elif end.get("counts") != tally:
            problems.append(f"the end line counts {end.get('counts')}, the lines hold {tally}")
        if len(entries) != 5:  # six entries, one lost
            problems.append(f"{len(entries)} entry lines, not the 5 that could be written")
        return problems
    if kept_lines is not None:
        if len(lines) != kept_lines:
            problems.append(f"the report has {len(lines)} lines, not the {kept_lines} written "
                            "before the disk filled")
        return problems
    ini_lines = [line for line in lines if line.get("phase") == "AddIni"]
    outcomes = [line["outcome"] for line in ini_lines]
    if outcomes != [ini_outcome] * 2:
        problems.append(f"the INI entries are {outcomes}, not {ini_outcome}")
    counts = lines[-1].get("counts", {}) if lines else {}
    if ini_outcome == "failed" and counts.get("failed") != 2:
        problems.append(f"the end line counts {counts}, not 2 failed")
    return problems


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    args = ap.parse_args()
    work = Path(tempfile.mkdtemp(prefix="vantrel-faults-"))
    failed = 0
    try:
        for case in CASES:
            problems = check(args.program, work, case)
            if problems:
                failed += 1
                print(f"{case[0]} ({case[2] or 'no fault'}):")
                for p in problems:
                    print("    " + p)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(CASES)} cases, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
