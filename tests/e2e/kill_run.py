#!/usr/bin/env python3
"""Kills the native uninstaller part-way and checks that a second run finishes
the job.

A generated installation (files, one read-only, shared files with their use
counts, INI entries among lines that stay, registry values and keys, folders)
is removed once without interruption: that final machine is the reference.
Then, for each kill point N, the same installation is laid out again, the
uninstaller runs with VANTREL_FAULTS="*:N:kill" (the layer ends the process
with SIGKILL at its N-th covered call, see pal/README.md), runs again to the
end, and the machine must equal the reference: the same files with the same
bytes (INI files included), the same registry, and a registry store that
passes SQLite's integrity check. Kill points are call counts, not times.

    kill_run.py --program unvantrel --reg-tool vantrel-reg [--points N | --all]

--points N (default 12) tries N points spread over the run; --all tries every
one. Prints one line per failing point and "K kill points, F failed".
"""
import argparse
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
from pathlib import Path

# Answers: Yes to the confirmation and to each shared-file question; the
# final box takes its end-of-input answer.
ANSWERS = "Yes\n" * 8

COUNTERS = {  # shared file -> use count before the run
    r"C:\Common\Kill\one.dll": 3,
    r"C:\Common\Kill\two.dll": 2,
    r"C:\Common\Kill\last.dll": 1,
}


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode()


def reg_path(path):
    return path.replace("\\", "\\\\")


def lay_out(root: Path, reg_tool: str):
    """The installation as its installer left it, and what others own."""
    c = root / "drive_c"
    app = c / "KillApp"
    files = []
    for sub in ("", "bin", "data", "data/deep"):
        (app / sub).mkdir(parents=True, exist_ok=True)
        for i in range(3):
            p = app / sub / f"f{i}.dat"
            p.write_bytes(f"{sub} file {i}\r\n".encode())
            files.append("C:\\KillApp\\" + (sub.replace("/", "\\") + "\\" if sub else "") + p.name)
    os.chmod(app / "f0.dat", 0o444)  # read-only: reset before deletion
    common = c / "Common" / "Kill"
    common.mkdir(parents=True)
    for name in COUNTERS:
        (common / name.rsplit("\\", 1)[1]).write_bytes(b"MZ shared\r\n")
    (app / "user.txt").write_bytes(b"made by the user, stays\r\n")
    windows = c / "windows"
    windows.mkdir(parents=True, exist_ok=True)
    ini = crlf(["; kept comment", "[Other]", "keep=1", "[KillApp]", "Path=C:\\KillApp",
                "Version=1", "mine=stays", "", "[Extensions]", "kap=KillApp.exe ^.kap",
                "txt=notepad.exe ^.txt"])
    (windows / "kill.ini").write_bytes(ini)

    log = ["[SharedFiles]"] + [f"{name}=" for name in COUNTERS]
    log += ["[AddIni]", r"C:\WINDOWS\kill.ini,KillApp,Path=", r"C:\WINDOWS\kill.ini,KillApp,Version=",
            r"C:\WINDOWS\kill.ini,Extensions,kap="]
    log += ["[AddReg]", r"HKCU\Software\KillApp\Settings\A=", r"HKCU\Software\KillApp\Settings\B=",
            r"HKLM\SOFTWARE\KillApp\Path="]
    log += ["[CreateKeys]", r"HKCU\Software\KillApp\Settings=", r"HKCU\Software\KillApp\Empty=",
            r"HKCU\Software\KillApp=", r"HKLM\SOFTWARE\KillApp="]
    log += ["[CopyFiles]"] + [f"{f}=1" for f in files] + [f"{name}=1" for name in COUNTERS]
    log += ["[CreateDirs]", r"C:\KillApp\data\deep=", r"C:\KillApp\data=", r"C:\KillApp\bin=",
            r"C:\KillApp=", r"C:\Common\Kill="]
    (app / "install.log").write_bytes(crlf(log))

    reg = ["REGEDIT4", "", r"[HKEY_CURRENT_USER\Software\KillApp\Settings]", '"A"="1"', '"B"="2"',
           '"User"="stays with the key"', "", r"[HKEY_CURRENT_USER\Software\KillApp\Empty]", "",
           r"[HKEY_CURRENT_USER\Software\Neighbour]", '"Stays"="yes"', "",
           r"[HKEY_LOCAL_MACHINE\SOFTWARE\KillApp]", f'"Path"="{reg_path("C:/KillApp")}"', "",
           r"[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]"]
    reg += [f'"{reg_path(name)}"=dword:{count:08x}' for name, count in COUNTERS.items()]
    (root / "layout.reg").write_text("\n".join(reg) + "\n")
    subprocess.run([reg_tool, "import", str(root / "layout.reg")], env=env_for(root), check=True)
    (root / "layout.reg").unlink()


def env_for(root: Path, faults=None):
    env = dict(os.environ)
    env["VANTREL_ROOT"] = str(root)
    env.pop("VANTREL_PLATFORM", None)
    env.pop("VANTREL_FAULTS", None)
    if faults:
        env["VANTREL_FAULTS"] = faults
    return env


def run(program: str, root: Path, faults=None):
    log = r"C:\KillApp\install.log"
    proc = subprocess.run([program, log], input=ANSWERS.encode(), env=env_for(root, faults),
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
    return proc.returncode, proc.stderr.decode(errors="replace")


def snapshot(root: Path, reg_tool: str):
    """Every file and folder with bytes and mode, and the registry as text."""
    state = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            state[os.path.join(rel, d) + "/"] = "dir"
        for f in filenames:
            if f.startswith("registry.db"):
                continue
            p = Path(dirpath) / f
            state[os.path.join(rel, f)] = (oct(p.stat().st_mode & 0o777), p.read_bytes())
    exported = subprocess.run([reg_tool, "export"], env=env_for(root), capture_output=True,
                              check=True).stdout.decode(errors="replace")
    db = sqlite3.connect(str(root / "registry.db"))
    integrity = db.execute("PRAGMA integrity_check").fetchone()[0]
    db.close()
    return state, exported, integrity


def differences(got, want):
    out = []
    files, reg, integrity = got
    if integrity != "ok":
        out.append(f"registry store: {integrity}")
    for path in sorted(set(files) | set(want[0])):
        if files.get(path) != want[0].get(path):
            out.append(f"{path}: {short(files.get(path))} instead of {short(want[0].get(path))}")
    if reg != want[1]:
        mine, theirs = set(reg.splitlines()), set(want[1].splitlines())
        out += [f"registry has {line}" for line in sorted(mine - theirs)]
        out += [f"registry lacks {line}" for line in sorted(theirs - mine)]
    return out


def short(entry):
    if entry is None:
        return "nothing"
    text = repr(entry)
    return text if len(text) < 160 else text[:60] + " ... " + text[-90:]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", required=True)
    ap.add_argument("--reg-tool", required=True)
    ap.add_argument("--points", type=int, default=12)
    ap.add_argument("--all", action="store_true")
    args = ap.parse_args()

    work = Path(tempfile.mkdtemp(prefix="vantrel-kill-"))
    try:
        template = work / "template"
        lay_out(template, args.reg_tool)

        def fresh(name):
            target = work / name
            if target.exists():
                subprocess.run(["chmod", "-R", "u+w", str(target)], check=False)
                shutil.rmtree(target)
            # cp -a keeps the extended attributes the layer keeps attributes in.
            subprocess.run(["cp", "-a", str(template), str(target)], check=True)
            return target

        reference = fresh("reference")
        rc, err = run(args.program, reference)
        if rc != 0:
            print(f"the uninterrupted run failed ({rc}): {err}")
            return 1
        want = snapshot(reference, args.reg_tool)

        # The number of covered calls in a whole run: the first point that no
        # longer kills, by doubling and halving.
        def killed_at(n):
            machine = fresh("probe")
            rc, err = run(args.program, machine, f"*:{n}:kill")
            if rc not in (0, -9):
                raise SystemExit(f"run with a kill at {n} ended with {rc}: {err}")
            return rc == -9

        high = 1
        while killed_at(high):
            high *= 2
        low = high // 2  # killed at low (or low is 0), not at high
        while high - low > 1:
            mid = (low + high) // 2
            if killed_at(mid):
                low = mid
            else:
                high = mid
        total = low
        if total == 0:
            print("no covered call in the run: the fault mechanism is not in effect")
            return 1

        if args.all or args.points >= total:
            points = list(range(1, total + 1))
        else:
            step = total / args.points
            points = sorted({max(1, round(step * (i + 0.5))) for i in range(args.points)})
        failed = 0
        for n in points:
            machine = fresh("killed")
            rc, err = run(args.program, machine, f"*:{n}:kill")
            if rc != -9:
                print(f"kill point {n}: the run was not killed ({rc}): {err}")
                failed += 1
                continue
            rc, err = run(args.program, machine)
            problems = [] if rc == 0 else [f"the second run ended with {rc}: {err}"]
            problems += differences(snapshot(machine, args.reg_tool), want)
            if problems:
                failed += 1
                print(f"kill point {n} of {total}:")
                for p in problems:
                    print("    " + p)
        print(f"{len(points)} kill points of {total}, {failed} failed")
        return 1 if failed else 0
    finally:
        subprocess.run(["chmod", "-R", "u+w", str(work)], check=False)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
