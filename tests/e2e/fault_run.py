#!/usr/bin/env python3
"""Runs the native uninstaller with failures injected into chosen calls
(VANTREL_FAULTS, see pal/README.md) and checks what each leaves behind.

An INI write-back that fails at any step (the temporary file's write on a
full disk, its flush, the replacement, on either platform family) must leave
the INI file byte for byte, no temporary file of ours beside it, and its
entries in the report as failed and left over; a report that fails part-way
must not stop the run, and its end line then says it is not complete and
counts only the entry lines written. In every case the rest of the run is
done, except when the report's first line cannot be written: then nothing
changes (1603) and the log stays. A run killed on the 95 family between the
write-back's two renames is finished by the next run. The write-back keeps
the file's mode (and, when the check runs as root, which can give files to
anyone, its owner and group) on both families, or fails and keeps the
original when they cannot be given; it keeps a symbolic link, and the files
a user keeps beside the INI file (named like the temporary files of old)
stay as they are; so do the files beside a mistyped log path, even ones
named like counter journals.

On the 95 family a file in use is a line of wininit.ini, written back at the
end of the CopyFiles phase: when that write-back fails, the list stays byte
for byte, the file's entry is failed with the write-back's error (not
scheduled), and the run claims no restart.

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
ENTRIES = 6  # one entry line per log entry, and one for the log itself
# The owner and group the INI file is given when the check runs as root.
OWNER = 4321
# A user's files beside the INI file, named as the temporary files were
# before they carried the program's mark; one read-only.
STRANGERS = {"fault.ini.~new0": b"[App]\r\nmine=1\r\n", "fault.ini.~old0": b"user's copy\r\n"}

# The run's uses of WriteFile: the report's first line, then the INI file's
# temporary copy (the phases before AddIni have nothing to do), then the
# report's entry lines. FlushFileBuffers is the write-back's alone; the NT
# family replaces with one ReplaceFileA, the 95 family moves the original
# aside (1st MoveFileExA) and the new file into place (2nd). 112: the disk is
# full.
# name, platform, faults, the INI entries' outcome, report lines kept (None:
# the whole report; "incomplete": one entry line lost; "stopped": nothing may
# change), extra checks: "mode" (0600 kept, and the owner 4321:4321 when run
# as root), "link" (the INI file a symbolic link), "strangers" (a user's
# files beside it), "rerun" (a second run without faults after the first was
# killed).
CASES = [
    ("no fault", "nt", "", "removed", None, {"strangers"}),
    ("95 family, no fault", "win95", "", "removed", None, {"strangers"}),
    ("mode and owner kept", "nt", "", "removed", None, {"mode"}),
    ("95 family: mode and owner kept", "win95", "", "removed", None, {"mode"}),
    # 1307: the owner may not be given (a process without the right to).
    ("95 family: the owner cannot be kept", "win95", "SetFileSecurityA:1:1307", "failed", None,
     {"mode", "strangers"}),
    ("a link stays a link", "nt", "", "removed", None, {"link"}),
    ("95 family: a link stays a link", "win95", "", "removed", None, {"link"}),
    ("write-back on a full disk", "nt", "WriteFile:2:112", "failed", None, {"strangers"}),
    ("write-back flush fails", "nt", "FlushFileBuffers:1:29", "failed", None, set()),
    ("replacement fails", "nt", "ReplaceFileA:1:5", "failed", None, {"mode", "strangers"}),
    ("95 family: original cannot move aside", "win95", "MoveFileExA:1:5", "failed", None, set()),
    ("95 family: new file cannot take its place", "win95", "MoveFileExA:2:5", "failed", None,
     {"strangers"}),
    ("95 family: killed between the renames", "win95", "MoveFileExA:2:kill", "absent", None,
     {"rerun", "strangers"}),
    ("report fails part-way", "nt", "WriteFile:4+:112", "removed", 2, set()),
    # one entry line lost: the run and the report go on, and the end line
    # says the report is not complete and counts only the lines written
    ("one report line lost", "nt", "WriteFile:4:112", "removed", "incomplete", set()),
    # the first line cannot be written: nothing is changed, 1603
    ("report's first line fails", "nt", "WriteFile:1:112", None, "stopped", {"strangers"}),
]
STOPPED_EXIT = 1603 & 0xFF


def log_bytes():
    return "".join(line + "\r\n" for line in LOG).encode()


def lay_out(root: Path, extras):
    app = root / "drive_c" / "FaultApp"
    app.mkdir(parents=True)
    for name in ("a.dat", "b.dat"):
        (app / name).write_bytes(b"installed\r\n")
    (app / "install.log").write_bytes(log_bytes())
    windows = root / "drive_c" / "windows"
    windows.mkdir()
    if "link" in extras:
        settings = root / "drive_c" / "Settings"
        settings.mkdir()
        (settings / "fault.ini").write_bytes(INI)
        (windows / "fault.ini").symlink_to("../Settings/fault.ini")
    else:
        (windows / "fault.ini").write_bytes(INI)
    if "mode" in extras:
        os.chmod(windows / "fault.ini", 0o600)
        if os.geteuid() == 0:
            os.chown(windows / "fault.ini", OWNER, OWNER)
    if "strangers" in extras:
        for name, data in STRANGERS.items():
            (windows / name).write_bytes(data)
        os.chmod(windows / "fault.ini.~old0", 0o444)


def run(program, root, platform, faults, report):
    env = dict(os.environ, VANTREL_ROOT=str(root), VANTREL_FAULTS=faults,
               VANTREL_PLATFORM=platform)
    return subprocess.run([program, r"C:\FaultApp\install.log", "/S", "/LOG=" + str(report)],
                          env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)


def check(program: str, work: Path, case):
    name, platform, faults, ini_outcome, kept_lines, extras = case
    root = work / "machine"
    if root.exists():
        shutil.rmtree(root)
    lay_out(root, extras)
    report = root / "report.jsonl"
    proc = run(program, root, platform, faults, report)
    problems = []
    if "rerun" in extras:
        if proc.returncode != -9:
            problems.append(f"the first run was not killed: {proc.returncode}")
        proc = run(program, root, platform, "", report)
    want_exit = STOPPED_EXIT if kept_lines == "stopped" else 0
    if proc.returncode != want_exit:
        problems.append(f"exit code {proc.returncode}, not {want_exit}: "
                        f"{proc.stderr.decode(errors='replace')}")
    windows = root / "drive_c" / "windows"
    ini_path = windows / "fault.ini"
    ini = ini_path.read_bytes() if ini_path.exists() else None
    want = INI if ini_outcome in ("failed", None) else INI_AFTER
    if ini != want:
        problems.append(f"fault.ini holds {ini!r}, not {want!r}")
    if "mode" in extras and ini_path.exists():
        st = ini_path.stat()
        if (st.st_mode & 0o777) != 0o600:
            problems.append(f"fault.ini has mode {st.st_mode & 0o777:o}, not 600")
        if os.geteuid() == 0 and (st.st_uid, st.st_gid) != (OWNER, OWNER):
            problems.append(f"fault.ini belongs to {st.st_uid}:{st.st_gid}, not {OWNER}:{OWNER}")
    if "link" in extras:
        if not ini_path.is_symlink():
            problems.append("fault.ini is no longer a symbolic link")
        elif (root / "drive_c" / "Settings" / "fault.ini").read_bytes() != want:
            problems.append("the link's target does not hold the edit")
    expected = set(STRANGERS) if "strangers" in extras else set()
    others = sorted(p.name for p in windows.iterdir() if p.name != "fault.ini")
    if set(others) != expected:
        problems.append(f"beside fault.ini: {others}, not {sorted(expected)}")
    for stranger in expected & set(others):
        if (windows / stranger).read_bytes() != STRANGERS[stranger]:
            problems.append(f"{stranger} was changed")
    if kept_lines == "stopped":
        app = root / "drive_c" / "FaultApp"
        left = sorted(p.name for p in app.iterdir()) if app.exists() else []
        if left != ["a.dat", "b.dat", "install.log"]:
            problems.append(f"C:\\FaultApp holds {left}, not everything as it was")
        elif (app / "install.log").read_bytes() != log_bytes():
            problems.append("the install log was changed")
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
        if len(entries) != ENTRIES - 1:
            problems.append(f"{len(entries)} entry lines, not the {ENTRIES - 1} that could be "
                            "written")
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


# a.dat cannot be deleted (both of its tries: the first DeleteFileA is the
# fault.ini write-back's), so it goes into wininit.ini, whose write-back is
# the second FlushFileBuffers and the third and fourth MoveFileExA.
A_DAT_IN_USE = "DeleteFileA:2:32;DeleteFileA:3:32"
WININIT = b"; another setup's pending work\r\n[Rename]\r\nNUL=C:\\OLD\\OLD.DLL\r\n"
RESTART_CASES = [
    # name, faults, wininit.ini's write-back error (None: it is written)
    ("95 family: file in use scheduled", A_DAT_IN_USE, None),
    ("95 family: restart list cannot be flushed", A_DAT_IN_USE + ";FlushFileBuffers:2:112", 112),
    ("95 family: new restart list cannot take its place", A_DAT_IN_USE + ";MoveFileExA:4:5", 5),
]


def check_restart_list(program: str, work: Path, case):
    name, faults, error = case
    root = work / "machine"
    if root.exists():
        shutil.rmtree(root)
    lay_out(root, set())
    windows = root / "drive_c" / "windows"
    (windows / "wininit.ini").write_bytes(WININIT)
    report = root / "report.jsonl"
    proc = run(program, root, "win95", faults, report)
    problems = []
    want_exit = 0 if error else 3010 & 0xFF
    if proc.returncode != want_exit:
        problems.append(f"exit code {proc.returncode}, not {want_exit}")
    wininit = (windows / "wininit.ini").read_bytes()
    if error and wininit != WININIT:
        problems.append(f"wininit.ini holds {wininit!r}, not what it held")
    if not error and wininit != WININIT + b"NUL=C:\\FaultApp\\a.dat\r\n":
        problems.append(f"wininit.ini holds {wininit!r}, without a.dat's line after the others")
    others = sorted(p.name for p in windows.iterdir() if p.name not in ("fault.ini", "wininit.ini"))
    if others:
        problems.append(f"left in the Windows folder: {others}")
    if not (root / "drive_c" / "FaultApp" / "a.dat").exists():
        problems.append("a.dat is gone")
    lines = [json.loads(line) for line in report.read_text(encoding="utf-8").splitlines()]
    a_dat = [line for line in lines if line.get("entry") == "C:\\FaultApp\\a.dat=1"]
    want = ({"outcome": "failed", "error": error} if error
            else {"outcome": "scheduled-at-restart", "error": 32})
    got = {key: a_dat[0].get(key) for key in want} if len(a_dat) == 1 else a_dat
    if got != want:
        problems.append(f"a.dat's entry is {got}, not {want}")
    end = lines[-1]
    want_end = {"type": "end", "restart": not error, "exit": 0 if error else 3010}
    if {key: end.get(key) for key in want_end} != want_end or \
            end.get("counts", {}).get("failed") != (1 if error else None):
        problems.append(f"the end line is {end}, not {want_end} with a.dat counted")
    return problems


def check_mistyped_log(program: str, work: Path):
    """A log path that names no file (C:\\Stats\\visits for visits.log): the
    files beside it, even ones named like journals, stay."""
    root = work / "machine"
    if root.exists():
        shutil.rmtree(root)
    stats = root / "drive_c" / "Stats"
    stats.mkdir(parents=True)
    beside = {"visits.counters": b"3,C:\\x.dll\r\n",
              "visits.~vt0badf00d.counters": b"; my own notes\r\n"}
    for name, data in beside.items():
        (stats / name).write_bytes(data)
    env = dict(os.environ, VANTREL_ROOT=str(root))
    proc = subprocess.run([program, r"C:\Stats\visits", "/S"], env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    problems = []
    if proc.returncode != 1619 % 256:
        problems.append(f"exit code {proc.returncode}, not 1619 (83 natively)")
    for name, data in beside.items():
        path = stats / name
        if not path.exists() or path.read_bytes() != data:
            problems.append(f"{name} was removed or changed")
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
        for case in RESTART_CASES:
            problems = check_restart_list(args.program, work, case)
            if problems:
                failed += 1
                print(f"{case[0]} ({case[1]}):")
                for p in problems:
                    print("    " + p)
        problems = check_mistyped_log(args.program, work)
        if problems:
            failed += 1
            print("a mistyped log path:")
            for p in problems:
                print("    " + p)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(CASES) + len(RESTART_CASES) + 1} cases, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
