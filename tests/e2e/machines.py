"""The machines the scenarios run on: a native machine folder with the
program's own registry, or a Wine prefix with the robot answering the real
dialogs. Each lays out files and registry, runs the uninstaller, and reads
back what is left; plus the bounded process helpers and the .reg parser they
share with the runner."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from transcript import parse_transcript

HERE = Path(__file__).resolve().parent
REPO = HERE.parent.parent
SESSION_MANAGER = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager"
SHARED_DLLS = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs"
ROOTS = {
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKCU": "HKEY_CURRENT_USER",
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKU": "HKEY_USERS",
}


class ScenarioError(Exception):
    """The scenario could not be laid out or run (not a comparison failure)."""


# ---------------------------------------------------------------- helpers


def full_key(key):
    head, _, rest = key.partition("\\")
    head = ROOTS.get(head.upper(), head)
    return head + ("\\" + rest if rest else "")


def normalise_text(text):
    # Both builds show a carriage return as a line break; the unit tests hold
    # the exact bytes, the transcripts compare lines.
    return text.replace("\r\n", "\n").replace("\r", "\n")


def wine_path(native):
    return "Z:" + str(native).replace("/", "\\")


def split_windows_args(raw):
    """Splits a command line as the program does: blanks separate, double
    quotes group and are dropped, no escapes."""
    args, current, quoted, anything = [], [], False, False
    for ch in raw:
        if ch == '"':
            quoted = not quoted
            anything = True
        elif ord(ch) <= 32 and not quoted:
            if anything:
                args.append("".join(current))
            current, anything = [], False
        else:
            current.append(ch)
            anything = True
    if anything:
        args.append("".join(current))
    return args


def kill_tree(proc):
    if proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        proc.kill()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        pass


def run_bounded(cmd, timeout, input_bytes=None, capture=True, **kwargs):
    """Runs a command in its own process group; kills the group on timeout.
    Returns (returncode or None on timeout, stdout bytes, stderr bytes).
    Output goes through temporary files, not pipes: processes that Wine starts
    on the side (services, the wineserver) inherit the handles and would keep
    a pipe open long after the command itself has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.TemporaryFile() as stdin:
        stdin.write(input_bytes or b"")
        stdin.seek(0)
        where_out = out if capture else subprocess.DEVNULL
        where_err = err if capture else subprocess.DEVNULL
        proc = subprocess.Popen(cmd, start_new_session=True, stdin=stdin, stdout=where_out,
                                stderr=where_err, **kwargs)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            kill_tree(proc)
            code = None
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read()


# ------------------------------------------------------ .reg text parsing


def parse_reg_export(data):
    """Parses REGEDIT4 or version-5 export text into
    {KEY_UPPER: (key, {value_name_upper: (name, type, data)})}."""
    if data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", errors="replace")
    else:
        text = data.decode("cp1252", errors="replace")
    lines, joined = text.replace("\r\n", "\n").split("\n"), []
    for line in lines:
        if joined and joined[-1].endswith("\\") and not joined[-1].startswith("["):
            joined[-1] = joined[-1][:-1] + line.strip()
        else:
            joined.append(line)
    keys, current = {}, None
    for line in joined:
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            current = keys.setdefault(name.upper(), (name, {}))[1]
            continue
        if current is None:
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        elif line.startswith('"'):
            i, buf = 1, []
            while i < len(line) and line[i] != '"':
                if line[i] == "\\" and i + 1 < len(line):
                    i += 1
                buf.append(line[i])
                i += 1
            name, rest = "".join(buf), line[i + 2:]
        else:
            continue
        current[name.upper()] = (name,) + parse_reg_data(rest)
    return keys


def parse_reg_data(rest):
    if rest.startswith('"'):
        body = rest[1:-1] if rest.endswith('"') else rest[1:]
        return ("sz", re.sub(r"\\(.)", r"\1", body))
    if rest.startswith("dword:"):
        return ("dword", int(rest[6:], 16))
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", rest)
    if m:
        kind = int(m.group(1), 16) if m.group(1) else 3
        raw = bytes(int(x, 16) for x in m.group(2).replace(" ", "").split(",") if x)
        return ("hex%d" % kind, raw)
    return ("?", rest)


def multi_sz(raw, wide):
    text = raw.decode("utf-16-le" if wide else "cp1252", errors="replace")
    return text.split("\0")


# ---------------------------------------------------------------- machines


class Machine:
    """One build's way of laying out a machine, running the program and
    reading the machine back. Subclasses: NativeMachine, WineMachine."""

    def __init__(self, args):
        self.args = args
        self.work = Path(args.work).resolve()
        self.work.mkdir(parents=True, exist_ok=True)

    def native_of(self, win_path):
        """The Linux path of a Windows path on this machine, resolving letter
        case as the platform does when the exact name is missing."""
        m = re.match(r"^([A-Za-z]):[\\/]?(.*)$", win_path)
        if not m:
            raise ScenarioError("not a drive path: %s" % win_path)
        base = self.drive_dir(m.group(1))
        parts = [self.name_on_disk(p) for p in re.split(r"[\\/]", m.group(2)) if p]
        current = base
        for part in parts:
            candidate = current / part
            if not candidate.exists() and current.is_dir():
                for entry in os.listdir(current):
                    if entry.lower() == part.lower():
                        candidate = current / entry
                        break
            current = candidate
        return current

    def name_on_disk(self, name):
        """A Windows file name as it is spelled in the Linux folder."""
        return name

    def write_file(self, win_path, data):
        path = self.native_of(win_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        if path.exists():
            os.chmod(path, 0o644)
        path.write_bytes(data)

    def make_dir(self, win_path):
        self.native_of(win_path).mkdir(parents=True, exist_ok=True)

    def read_key(self, key, exports):
        """The key's (name, values) from an export, or None when the key does
        not exist. An export fails for a missing key and for a broken tool
        alike, so absence counts only when the nearest key above that can be
        exported shows no such subkey; anything else is an error, never an
        empty registry. `exports` caches the parsed exports of one check."""
        path = key
        while path:
            if path.upper() not in exports:
                data = self.export_key(path)
                exports[path.upper()] = parse_reg_export(data) if data is not None else None
            parsed = exports[path.upper()]
            if parsed is not None:
                if path.upper() not in parsed:
                    raise ScenarioError("the export of %s does not hold the key" % path)
                entry = parsed.get(key.upper())
                if entry is None and path == key:
                    raise ScenarioError("the export of %s does not hold the key" % key)
                if entry is not None and path != key:
                    raise ScenarioError("cannot export %s, which exists" % key)
                return entry
            path = path.rpartition("\\")[0]
        raise ScenarioError("cannot export %s nor any key above it" % key)


class NativeMachine(Machine):
    build = "native"

    def __init__(self, args):
        super().__init__(args)
        self.root = None
        self.platform = "nt"

    def start(self):
        pass

    def stop(self):
        pass

    def drive_dir(self, letter):
        return self.root / ("drive_" + letter.lower())

    def name_on_disk(self, name):
        # The layer keeps names as the program's ANSI (code page 1252) bytes;
        # Wine converts them to UTF-8.
        return name.encode("cp1252").decode(sys.getfilesystemencoding(), "surrogateescape")

    def env(self):
        env = dict(os.environ)
        env["VANTREL_ROOT"] = str(self.root)
        env.pop("VANTREL_PLATFORM", None)
        if self.platform == "win95":
            env["VANTREL_PLATFORM"] = "win95"
        return env

    def fresh(self, scenario):
        self.platform = scenario.platform
        self.root = self.work / "native" / scenario.name / "machine"
        if self.root.exists():
            subprocess.run(["chmod", "-R", "u+w", str(self.root)], check=False)
            shutil.rmtree(self.root)
        (self.root / "drive_c" / "windows").mkdir(parents=True)
        return self.root

    def marker_path(self, native):
        return str(native)

    def helper(self, *argv, timeout=20):
        rc, out, err = run_bounded([self.args.holder] + list(argv), timeout, env=self.env())
        return rc

    def holder_cmd(self, *argv):
        return [self.args.holder] + list(argv)

    def import_reg(self, path):
        if not self.args.reg_tool or not Path(self.args.reg_tool).exists():
            raise ScenarioError("the registry tool is missing: %s" % self.args.reg_tool)
        rc, out, err = run_bounded([self.args.reg_tool, "import", str(path)], 30, env=self.env())
        if rc != 0:
            raise ScenarioError("vantrel-reg import failed (%s): %s" %
                                (rc, (out + err).decode(errors="replace")))

    def export_key(self, key):
        if not self.args.reg_tool or not Path(self.args.reg_tool).exists():
            raise ScenarioError("the registry tool is missing: %s" % self.args.reg_tool)
        rc, out, err = run_bounded([self.args.reg_tool, "export", key], 30, env=self.env())
        if rc != 0:
            return None
        return out

    def export_all(self, path):
        rc, data, err = run_bounded([self.args.reg_tool, "export"], 60, env=self.env())
        if rc != 0:
            raise ScenarioError("vantrel-reg export failed (%s)" % rc)
        path.write_bytes(data)
        return parse_reg_export(data)

    def protect_key(self, key):
        rc, out, err = run_bounded([self.args.reg_tool, "protect", key], 30, env=self.env())
        if rc != 0:
            raise ScenarioError("cannot protect %s: %s" % (key, (out + err).decode(errors="replace")))

    def run_program(self, raw_args, answers, timeout, scenario_dir, watch=False, cwd=None):
        argv = [str(Path(self.args.program).resolve())] + split_windows_args(raw_args)
        stdin = "".join(a + "\n" for a in answers).encode("cp1252")
        env = self.env()
        env["VANTREL_TEST_LOG"] = str(scenario_dir / "programs.log")
        # The test programs note their start in the transcript itself.
        env["VANTREL_E2E_STARTS"] = "-"
        extra = {}
        if watch:
            # No one answers: standard input is closed, not merely empty.
            extra["preexec_fn"] = lambda: os.close(0)
        if cwd:
            extra["cwd"] = str(self.native_of(cwd))
        code, out, err = run_bounded(argv, timeout, input_bytes=stdin, env=env, **extra)
        timed_out = code is None
        (scenario_dir / "transcript.txt").write_bytes(out)
        (scenario_dir / "stderr.txt").write_bytes(err)
        events = parse_transcript(out.decode("cp1252", errors="replace"))
        if timed_out:
            events.append({"type": "timeout", "text": "killed after %d s" % timeout})
        events.append({"type": "exit", "code": code})
        return events


class WineMachine(Machine):
    # Windows behaviour is the same for both trees; scenario expectations and
    # skips name "win32" for it.
    build = "win32"

    def __init__(self, args):
        super().__init__(args)
        # The wine wrapper picks the 32-bit loader whenever it is installed,
        # even where it cannot run: the 64-bit tree names its loader outright.
        self.arch = "win64" if args.build == "win64" else "win32"
        self.wine = ["/usr/lib/wine/wine64"] if self.arch == "win64" else ["wine"]
        build_dir = Path(args.program).resolve().parent
        self.prefixes = {"nt": build_dir / "wineprefix-e2e", "win95": build_dir / "wineprefix-e2e95"}
        self.platform = "nt"
        self.xvfb = None
        self.display = os.environ.get("DISPLAY")

    def env(self, platform=None):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.prefixes[platform or self.platform]), WINEARCH=self.arch,
                   WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display)
        if self.arch == "win64":
            env["WINELOADER"] = self.wine[0]
        return env

    def start(self):
        if not self.display:
            rfd, wfd = os.pipe()
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            os.close(wfd)
            deadline = time.time() + 20
            number = b""
            while time.time() < deadline and not number.endswith(b"\n"):
                chunk = os.read(rfd, 16)
                if not chunk:
                    break
                number += chunk
            os.close(rfd)
            if not number.strip():
                raise ScenarioError("Xvfb did not start")
            self.display = ":" + number.decode().strip()
        for platform, prefix in self.prefixes.items():
            ready = prefix / ".vantrel-e2e-ready"
            if not ready.exists():
                shutil.rmtree(prefix, ignore_errors=True)
                env = self.env(platform)
                run_bounded(self.wine + ["wineboot", "-i"], 180, env=env, capture=False)
                run_bounded(["wineserver", "-w"], 60, env=env, capture=False)
                # Unmanaged windows: without a window manager on the virtual
                # display Wine would wait for one on every hidden window.
                text = ('REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
                        '"Managed"="N"\r\n')
                if platform == "win95":
                    # GetVersionExA then reports the Windows 95 family.
                    text += '\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="win98"\r\n'
                reg = self.work / ("prefix-%s.reg" % platform)
                reg.write_bytes(text.encode("ascii"))
                rc, _, _ = run_bounded(self.wine + ["regedit", "/S", wine_path(reg)], 60, env=env,
                                       capture=False)
                run_bounded(["wineserver", "-w"], 60, env=env, capture=False)
                if rc != 0:
                    raise ScenarioError("cannot set up the Wine prefix %s" % prefix)
                ready.touch()
            subprocess.run(["wineserver", "-p"], env=self.env(platform), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def stop(self):
        for platform in self.prefixes:
            try:
                subprocess.run(["wineserver", "-k"], env=self.env(platform),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb:
            kill_tree(self.xvfb)

    def drive_dir(self, letter):
        return self.prefixes[self.platform] / ("drive_" + letter.lower())

    def fresh(self, scenario):
        self.platform = scenario.platform
        drive_c = self.drive_dir("c")
        e2e = drive_c / "E2E"
        if e2e.exists():
            subprocess.run(["chmod", "-R", "u+w", str(e2e)], check=False)
            shutil.rmtree(e2e)
        windows = self.native_of("C:\\WINDOWS")
        for entry in windows.iterdir() if windows.exists() else []:
            if entry.name.lower() == "wininit.ini":
                entry.unlink()
        scenario_dir = self.work / "win32" / scenario.name
        cleanup = scenario_dir / "cleanup.reg"
        cleanup.parent.mkdir(parents=True, exist_ok=True)
        cleanup.write_bytes(("REGEDIT4\r\n\r\n"
                             "[-HKEY_CURRENT_USER\\Software\\VantrelE2E]\r\n\r\n"
                             "[-HKEY_LOCAL_MACHINE\\Software\\VantrelE2E]\r\n\r\n"
                             "[-" + SHARED_DLLS + "]\r\n\r\n"
                             "[" + SESSION_MANAGER + "]\r\n"
                             "\"PendingFileRenameOperations\"=-\r\n").encode("cp1252"))
        self.import_reg(cleanup)
        return e2e

    def marker_path(self, native):
        return wine_path(native)

    def helper(self, *argv, timeout=30):
        rc, out, err = run_bounded(self.wine + [self.args.holder] + list(argv), timeout,
                                   env=self.env())
        return rc

    def holder_cmd(self, *argv):
        return self.wine + [self.args.holder] + list(argv)

    def import_reg(self, path):
        # regedit under a loaded machine now and then ends with 1 having
        # done nothing; the import is the harness's own step, so try again
        # before calling the scenario broken.
        for attempt in range(3):
            rc, out, err = run_bounded(self.wine + ["regedit", "/S", wine_path(path)], 60,
                                       env=self.env())
            if rc == 0:
                return
            time.sleep(1 + attempt)
        detail = (err or b"").decode("utf-8", "replace").strip()[-300:]
        raise ScenarioError("regedit import failed (%s): %s" % (rc, detail))

    def export_key(self, key):
        out = self.work / "win32" / "export.reg"
        if out.exists():
            out.unlink()
        rc, _, _ = run_bounded(self.wine + ["reg", "export", key, wine_path(out), "/y"], 60,
                               env=self.env())
        if rc != 0 or not out.exists():
            return None
        return out.read_bytes()

    # The keys a scenario can touch; the whole registry would carry what Wine
    # itself changes while programs start.
    EXPORTED = ["HKEY_CURRENT_USER\\Software\\VantrelE2E", "HKEY_LOCAL_MACHINE\\Software\\VantrelE2E",
                "HKEY_CLASSES_ROOT\\CLSID", SHARED_DLLS, SESSION_MANAGER]

    def export_all(self, path):
        keys = {}
        for key in self.EXPORTED:
            keys.update(parse_reg_export(self.export_key(key) or b""))
        path.write_text(json.dumps(sorted(keys), indent=1))
        return keys

    def protect_key(self, key):
        pass  # Wine's registry cannot make a key resist deletion

    def run_program(self, raw_args, answers, timeout, scenario_dir, watch=False, cwd=None):
        transcript = scenario_dir / "transcript.txt"
        if transcript.exists():
            transcript.unlink()
        job = scenario_dir / "robot.job"
        lines = ["exe=" + wine_path(Path(self.args.program).resolve()),
                 "args=" + raw_args, "out=" + wine_path(transcript), "timeout=%d" % timeout]
        lines += ["answer=" + a for a in answers]
        lines += ["watch=1"] if watch else []
        lines += ["cwd=" + cwd] if cwd else []
        job.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp1252"))
        env = self.env()
        env["VANTREL_TEST_LOG"] = wine_path(scenario_dir / "programs.log")
        rc, out, err = run_bounded(self.wine + [self.args.robot, wine_path(job)], timeout * 4 + 30,
                                   env=env)
        (scenario_dir / "robot.out").write_bytes(out + err)
        events = []
        if transcript.exists():
            events = parse_transcript(transcript.read_bytes().decode("cp1252", errors="replace"))
        if rc is None:
            events.append({"type": "timeout", "text": "robot killed"})
        if not any(e["type"] == "exit" for e in events):
            events.append({"type": "exit", "code": None})
        return events
