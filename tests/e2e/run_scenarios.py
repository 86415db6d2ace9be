#!/usr/bin/env python3
"""Runs the end-to-end scenarios against the native program or, under Wine,
the Windows program driven by the robot.

For each scenario the runner lays out a fresh machine (files, attributes,
registry, the install log, files held open by a second process), runs the
uninstaller with the scripted answers, turns what the user saw into one
normalised transcript (boxes, dialogs, progress lines), compares it and the
machine afterwards with the scenario's expectations, and prints PASS or FAIL
with the differences. The last line is "N passed, N failed"; the exit code is
non-zero when any scenario failed. Every wait is bounded.
"""

import argparse
import difflib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tomllib
from pathlib import Path

import unattended

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


# ------------------------------------------------------ transcript format

SCREEN = (1024, 768)


def centred(rect, screen=SCREEN):
    """Whether a window rectangle sits where the program's centring puts it:
    (screen - size) / 2, fitted to the screen."""
    left, top, right, bottom = rect
    w, h = right - left, bottom - top
    x = max(0, min(int((screen[0] - w) / 2), screen[0] - w))
    y = max(0, min(int((screen[1] - h) / 2), screen[1] - h))
    return abs(left - x) <= 1 and abs(top - y) <= 1


def parse_transcript(text):
    """Turns a transcript in the terminal front-end's tagged format (the
    native program's output, or the robot's, which writes the same form) into
    events: box, dialog, progress_window, progress, closed (the progress
    window), started (a test program), hint, timeout, exit."""
    events, current, last_field = [], None, None
    screen = SCREEN  # the native layer's screen, unless VANTREL_SCREEN is set
    if os.environ.get("VANTREL_SCREEN"):
        w, _, h = os.environ["VANTREL_SCREEN"].partition("x")
        screen = (int(w), int(h))
    for raw in text.split("\n"):
        line = raw.rstrip("\r")
        m = re.match(r"^\[([a-z]+)(?: (\d+))?\](?: (.*))?$", line)
        if not m:
            continue
        tag, num, rest = m.group(1), m.group(2), m.group(3) or ""
        rect = re.search(r"rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)", rest)
        rect = tuple(int(x) for x in rect.groups()) if rect else None
        flags = re.search(r"flags=(0x[0-9A-Fa-f]+)", rest)
        if tag in ("box", "dialog", "window"):
            current = {"type": {"window": "progress_window"}.get(tag, tag), "caption": None}
            if rect:
                current["rect"] = list(rect)
                current["centred"] = centred(rect, screen)
            if flags:
                current["flags"] = int(flags.group(1), 16)
            if tag == "box":
                current.update(text=None, buttons=[])
            if tag == "dialog":
                current["fields"] = {}
            if tag != "box":
                current["name"] = rest.split(" ")[0]
            events.append(current)
            last_field = None
        elif tag == "caption" and current is not None:
            current["caption"] = rest
        elif tag == "caption":
            # A later change of the progress window's caption.
            windows = [e for e in events if e["type"] == "progress_window"]
            if windows:
                windows[-1]["caption"] = rest
        elif tag == "text" and current is not None and current["type"] == "box":
            current["text"] = rest if current["text"] is None else current["text"] + "\n" + rest
        elif tag == "field" and current is not None and current["type"] == "dialog":
            fields = current["fields"]
            fields[num] = rest if last_field != num else fields[num] + "\n" + rest
            last_field = num
            continue
        elif tag == "buttons" and current is not None:
            current["buttons"] = [re.sub(r"^\d+ ", "", b.strip()) for b in rest.split(" | ")
                                  if b.strip()]
        elif tag == "control" and current is not None:
            m2 = re.match(r"id=(\d+) class=(\S+)", rest)
            if m2:
                current.setdefault("classes", {})[m2.group(1)] = m2.group(2)
        elif tag == "icon" and current is not None:
            # The terminal names the icon; the robot only sees that there is one.
            current["icon"] = rest or True
        elif tag == "answer" and current is not None:
            current["answer"] = rest
            current = None
        elif tag == "progress":
            events.append({"type": "progress", "text": rest})
        elif tag == "closed" and rest.startswith("DLG_UNINSTALL"):
            events.append({"type": "closed"})
        elif tag == "started":
            # A test program's own line, written as it starts, in order with
            # the progress lines.
            events.append({"type": "started", "text": rest})
        elif tag == "screen":
            w, _, h = rest.partition("x")
            screen = (int(w), int(h))
        elif tag == "shown":
            m2 = re.match(r"class=(\S*) ?(.*)$", rest)
            events.append({"type": "shown", "class": m2.group(1) if m2 else "",
                           "caption": m2.group(2) if m2 else rest})
        elif tag in ("hint", "timeout", "robot"):
            events.append({"type": tag, "text": rest})
        elif tag == "exit":
            events.append({"type": "exit", "code": int(rest) if rest.strip() else None})
        last_field = None
    return events


# ------------------------------------------------------------- scenarios


class Scenario:
    def __init__(self, path, data):
        self.path = path
        self.data = data
        self.name = data.get("name") or path.stem
        self.platform = data.get("platform", "nt")
        if self.platform not in ("nt", "win95"):
            raise ScenarioError("platform must be nt or win95")
        self.folder = data.get("folder", self.name.upper().replace("-", "_"))
        self.dir = "C:\\E2E\\" + self.folder
        self.log = self.expand(data.get("log_path", "{DIR}\\install.log"))
        self.expect = data.get("expect", {})

    def expand(self, text, machine=None):
        text = text.replace("{DIR}", self.dir).replace("{DIR_REG}", self.dir.replace("\\", "\\\\"))
        text = text.replace("{LOG}", getattr(self, "log", ""))
        text = text.replace("{LOG_REG}", getattr(self, "log", "").replace("\\", "\\\\"))
        if machine is not None:
            native = machine.build == "native"
            text = text.replace("{EXE}", "" if native else ".exe")
            text = text.replace("{DLL}", ".so" if native else ".dll")
        return text


def encoded(text, spec):
    # "utf-16": UTF-16 LE after its byte order mark; otherwise the ANSI code page.
    if spec.get("encoding") == "utf-16":
        return b"\xff\xfe" + text.encode("utf-16-le")
    return text.encode("cp1252")


def data_of(spec, scenario, machine, crlf_default=True):
    if "hex" in spec:
        return bytes.fromhex(spec["hex"].replace(" ", ""))
    if "lines" in spec:
        return encoded("".join(scenario.expand(l, machine) + "\r\n" for l in spec["lines"]), spec)
    text = scenario.expand(spec.get("text", ""), machine)
    if spec.get("crlf", crlf_default):
        text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    return encoded(text, spec)


def lay_out(machine, scenario, scenario_dir):
    data = scenario.data
    machine.make_dir(scenario.dir)
    for d in data.get("dirs", []):
        machine.make_dir(scenario.expand(d, machine))
    for copy in data.get("copy", []):
        source = Path(machine.args.programs_dir) / scenario.expand(copy["program"], machine)
        if not source.exists():
            raise ScenarioError("test program missing: %s" % source)
        target = machine.native_of(scenario.expand(copy["to"], machine))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(source, target)
    for f in data.get("files", []):
        machine.write_file(scenario.expand(f["path"], machine), data_of(f, scenario, machine))
    log_text = data.get("log")
    for gen in data.get("generate", []):
        # Many entries at once: a file per number, and its log line at the
        # end of the named section.
        lines = []
        for n in range(gen["count"]):
            path = scenario.expand(gen["path"], machine).replace("{N}", str(n))
            if "text" in gen:
                machine.write_file(path, gen["text"].encode("cp1252"))
            lines.append(path + gen.get("value", "=1"))
        header = "[%s]" % gen["section"]
        log_lines = (log_text or "").replace("\r\n", "\n").split("\n")
        at = log_lines.index(header) + 1
        while at < len(log_lines) and log_lines[at] and not log_lines[at].startswith("["):
            at += 1
        log_text = "\n".join(log_lines[:at] + lines + log_lines[at:])
    if log_text is not None or "log_hex" in data:
        spec = {"hex": data["log_hex"]} if "log_hex" in data else {
            "text": log_text, "crlf": data.get("log_crlf", True),
            "encoding": data.get("log_encoding")}
        machine.write_file(scenario.log, data_of(spec, scenario, machine))
    if "registry" in data:
        reg = scenario_dir / "machine.reg"
        text = scenario.expand(data["registry"], machine).replace("\r\n", "\n").lstrip("\n")
        reg.write_bytes(text.replace("\n", "\r\n").encode("cp1252"))
        machine.import_reg(reg)
    for f in data.get("files", []):
        if f.get("attrib"):
            rc = machine.helper("attrib", scenario.expand(f["path"], machine), f["attrib"])
            if rc != 0:
                raise ScenarioError("cannot set attributes of %s (%s)" % (f["path"], rc))


def start_holders(machine, scenario, scenario_dir):
    holders = []
    for i, held in enumerate(scenario.data.get("held", [])):
        ready = scenario_dir / ("held%d.ready" % i)
        stop = scenario_dir / ("held%d.stop" % i)
        for p in (ready, stop):
            if p.exists():
                p.unlink()
        cmd = machine.holder_cmd("hold", scenario.expand(held, machine),
                                 machine.marker_path(ready), machine.marker_path(stop))
        env = machine.env()
        proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        holders.append((proc, stop))
        deadline = time.time() + 30
        while not ready.exists() and proc.poll() is None and time.time() < deadline:
            time.sleep(0.05)
        if not ready.exists():
            stop_holders(holders)
            raise ScenarioError("holder could not open %s (exit %s)" % (held, proc.poll()))
    return holders


def stop_holders(holders):
    for proc, stop in holders:
        stop.touch()
    for proc, stop in holders:
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            kill_tree(proc)


# ------------------------------------------------------------ comparison


class Checker:
    def __init__(self):
        self.problems = []
        self.program_seconds = 0.0

    def fail(self, what, expected, actual):
        self.problems.append((what, expected, actual))

    def equal(self, what, expected, actual):
        if expected != actual:
            self.fail(what, expected, actual)

    def report(self):
        out = []
        for what, expected, actual in self.problems:
            out.append("  - %s" % what)
            if isinstance(expected, list) and isinstance(actual, list):
                diff = difflib.unified_diff([repr(x) for x in expected], [repr(x) for x in actual],
                                            "expected", "actual", lineterm="", n=2)
                out.extend("      " + d for d in diff)
            elif what.endswith(" flags") and isinstance(expected, int):
                out.append("      expected: 0x%X" % expected)
                out.append("      actual:   %s" % ("0x%X" % actual if isinstance(actual, int)
                                                   else repr(actual)))
            else:
                out.append("      expected: %r" % (expected,))
                out.append("      actual:   %r" % (actual,))
        return "\n".join(out)


def compare_shown(check, scenario, machine, events):
    exp = scenario.expect
    boxes = [e for e in events if e["type"] == "box"]
    dialogs = [e for e in events if e["type"] == "dialog"]
    progress = [e["text"] for e in events if e["type"] == "progress"]
    captions = [e["caption"] for e in events if e["type"] == "progress_window"]
    for e in events:
        if e["type"] in ("timeout", "robot", "hint"):
            check.fail("the run went as scripted", "no [%s] line" % e["type"], e)
    exit_code = [e.get("code") for e in events if e["type"] == "exit"]
    check.equal("exit code", unattended.visible_exit_code(machine, exp.get("exit_code", 0)),
                exit_code[-1] if exit_code else None)

    # Every box counts: none but the listed ones may appear (a box that only
    # one build shows names it in `builds`).
    want_boxes = [b for b in exp.get("box", []) if machine.build in b.get("builds", [machine.build])]
    check.equal("number of message boxes", len(want_boxes), len(boxes))
    # The progress window, once shown, closes exactly once; a box comes
    # before that unless the scenario says it comes after (the top-level
    # error box: the window is gone before it appears).
    closed_at = [i for i, e in enumerate(events) if e["type"] == "closed"]
    if captions or closed_at:
        check.equal("times the progress window closed", 1, len(closed_at))
    box_at = [i for i, e in enumerate(events) if e["type"] == "box"]
    for i, (want, got) in enumerate(zip(want_boxes, boxes)):
        if closed_at:
            check.equal("box %d shown after the progress window closed" % (i + 1),
                        want.get("after_window", False), box_at[i] > closed_at[0])
        for key, value in want.items():
            if key in ("builds", "after_window"):
                continue
            if key == "text":
                value = normalise_text(scenario.expand(value, machine))
                actual = normalise_text(got.get("text") or "")
            elif key == "flags" and "flags" not in got:
                continue  # the robot cannot see a box's flags
            else:
                actual = got.get(key)
            check.equal("box %d %s" % (i + 1, key), value, actual)

    want_dialogs = exp.get("dialog", [])
    check.equal("number of shared-file questions", len(want_dialogs), len(dialogs))
    for i, (want, got) in enumerate(zip(want_dialogs, dialogs)):
        for key, value in want.items():
            if key == "fields":
                for fid, text in value.items():
                    check.equal("dialog %d field %s" % (i + 1, fid),
                                normalise_text(scenario.expand(text, machine)),
                                normalise_text(got.get("fields", {}).get(fid, "<missing>")))
            elif key == "classes":
                if "classes" not in got:
                    continue  # the terminal does not print control classes
                for cid, cls in value.items():
                    check.equal("dialog %d control %s class" % (i + 1, cid), cls.lower(),
                                got["classes"].get(cid, "<missing>").lower())
            else:
                check.equal("dialog %d %s" % (i + 1, key), value, got.get(key))

    if "progress_window" in exp:
        check.equal("progress window shown", exp["progress_window"], bool(captions))
    if "progress_caption" in exp:
        check.equal("progress window caption", exp["progress_caption"],
                    captions[0] if captions else None)
    if "progress" in exp:
        check.equal("progress lines", [scenario.expand(p, machine) for p in exp["progress"]],
                    progress)
    if "timeline" in exp:
        # Progress lines and test-program starts in the order they happened.
        timeline = ["%s %s" % (e["type"], e["text"]) for e in events
                    if e["type"] in ("progress", "started")]
        check.equal("progress lines and program starts, in order",
                    [scenario.expand(t, machine) for t in exp["timeline"]], timeline)


def compare_machine(check, scenario, machine):
    exp = scenario.expect
    for p in exp.get("present", []):
        path = scenario.expand(p, machine)
        if not machine.native_of(path).exists():
            check.fail("present: " + path, "exists", "missing")
    for gen in scenario.data.get("generate", []):
        if "expect_gone" in gen:
            left = [n for n in range(gen["count"])
                    if machine.native_of(scenario.expand(gen["path"], machine)
                                         .replace("{N}", str(n))).exists() == gen["expect_gone"]]
            if left:
                check.fail("generated %s: %d of %d %s" % (gen["section"], len(left), gen["count"],
                                                        "left" if gen["expect_gone"] else "gone"),
                           [], left[:10])
    for p in exp.get("gone", []):
        path = scenario.expand(p, machine)
        if machine.native_of(path).exists():
            check.fail("gone: " + path, "missing", "exists")
    for f in exp.get("file", []):
        path = scenario.expand(f["path"], machine)
        native = machine.native_of(path)
        actual = native.read_bytes() if native.exists() else None
        check.equal("bytes of " + path, data_of(f, scenario, machine, crlf_default=False), actual)

    exports = {}

    def values_of(key):
        return machine.read_key(full_key(scenario.expand(key, machine)), exports)

    for r in exp.get("reg", []):
        key = full_key(scenario.expand(r["key"], machine))
        entry = values_of(key)
        present = r.get("present", True)
        if "value" not in r:
            check.equal("registry key %s present" % key, present, entry is not None)
            continue
        name = scenario.expand(r["value"], machine)
        value = entry[1].get(name.upper()) if entry else None
        check.equal("registry value %s\\%s present" % (key, name), present, value is not None)
        if value is not None and "data" in r:
            want = r["data"]
            got = value[2]
            if value[1] == "dword":
                got = got if isinstance(want, int) else "dword:%08x" % got
            elif value[1] == "sz":
                want = scenario.expand(want, machine)
            check.equal("registry data %s\\%s" % (key, name), want, got)

    if "pending_deletes" in exp:
        entry = values_of(SESSION_MANAGER)
        names = []
        value = entry[1].get("PENDINGFILERENAMEOPERATIONS") if entry else None
        if value is not None:
            # Wine's export is UTF-16 throughout; vantrel-reg writes ANSI bytes.
            items = multi_sz(value[2], wide=machine.build == "win32")
            while items and items[-1] == "":
                items.pop()
            pairs = [(items[i], items[i + 1] if i + 1 < len(items) else "")
                     for i in range(0, len(items), 2)]
            names = [re.sub(r"^\\\?\?\\", "", src) + ("" if not dst else " -> " + dst)
                     for src, dst in pairs]
        check.equal("restart-time deletions (PendingFileRenameOperations)",
                    [scenario.expand(p, machine) for p in exp["pending_deletes"]], names)


# ---------------------------------------------------------------- driver


def compare_programs(check, scenario, machine, scenario_dir):
    """What the test programs recorded (vt_recorder runs, server library
    loads and calls), from the test log they append to."""
    exp = scenario.expect
    path = scenario_dir / "programs.log"
    if not path.exists():
        # Nothing recorded at all: right only when nothing was to be.
        wanted = exp.get("recorded_runs", 0) or exp.get("recorded")
        if wanted:
            check.fail("the test programs' log", "written", "missing: no test program ran, or "
                       "none found the log")
        return
    lines = path.read_bytes().decode("cp1252", errors="replace").splitlines()
    if not lines:
        # Every event appends a line: an empty log is a lost write.
        check.fail("the test programs' log", "lines", "an empty file")
    if "recorded_runs" in exp:
        check.equal("number of vt_recorder runs", exp["recorded_runs"],
                    sum(1 for l in lines if l == "run vt_recorder"))
    if "recorded" in exp:
        # The expected lines must appear in this order, others may stand between.
        want = [scenario.expand(l, machine) for l in exp["recorded"]]
        i = 0
        for line in lines:
            if i < len(want) and line == want[i]:
                i += 1
        if i < len(want):
            check.fail("recorded by the test programs, in order (missing from %r on)" % want[i],
                       want, lines)
    for absent in exp.get("recorded_absent", []):
        absent = scenario.expand(absent, machine)
        if absent in lines:
            check.fail("not recorded: " + absent, "absent", lines)


def run_scenario(machine, scenario):
    scenario_dir = machine.work / machine.build / scenario.name
    scenario_dir.mkdir(parents=True, exist_ok=True)
    if (scenario_dir / "programs.log").exists():
        (scenario_dir / "programs.log").unlink()
    check = Checker()
    holders = []
    try:
        machine.fresh(scenario)
        lay_out(machine, scenario, scenario_dir)
        for key in scenario.data.get("protect", []):
            machine.protect_key(full_key(scenario.expand(key, machine)))
        holders = start_holders(machine, scenario, scenario_dir)
        watch = scenario.data.get("watch", False)
        cwd = scenario.expand(scenario.data["cwd"], machine) if "cwd" in scenario.data else None
        if cwd:
            machine.make_dir(cwd)

        def run_once(raw_args):
            return machine.run_program(raw_args, scenario.data.get("answers", []),
                                       scenario.data.get("timeout", 20), scenario_dir,
                                       watch=watch, cwd=cwd)

        started = time.time()
        if "preview_property" in scenario.data:
            events = unattended.run_preview_property(machine, scenario, scenario_dir, check,
                                                     run_once)
        else:
            events = run_once(scenario.expand(scenario.data.get("args", '"{LOG}"'), machine))
        check.program_seconds = time.time() - started
    finally:
        stop_holders(holders)
    (scenario_dir / "events.json").write_text(json.dumps(events, indent=1))
    compare_shown(check, scenario, machine, events)
    compare_machine(check, scenario, machine)
    compare_programs(check, scenario, machine, scenario_dir)
    unattended.compare(check, scenario, machine, events)
    return check, events


def load_scenarios(directory, name_filter, builds):
    scenarios = []
    for path in sorted(Path(directory).glob("*.toml")):
        with open(path, "rb") as f:
            whole = tomllib.load(f)
        for data in unattended.expand_cases(whole):
            scenario = Scenario(path, data)
            if name_filter and not re.search(name_filter, scenario.name):
                continue
            scenario.skip = (data.get("skip_reason", "not on this build")
                             if set(builds) & set(data.get("skip_builds", [])) else None)
            scenarios.append(scenario)
    return scenarios


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", choices=("native", "win32", "win64"), required=True)
    parser.add_argument("--filter", help="run only scenarios whose name matches this regex")
    parser.add_argument("--program")
    parser.add_argument("--holder")
    parser.add_argument("--robot")
    parser.add_argument("--reg-tool")
    parser.add_argument("--programs-dir")
    parser.add_argument("--scenarios", default=str(HERE / "scenarios"))
    parser.add_argument("--work")
    parser.add_argument("--verbose", action="store_true", help="print every transcript")
    args = parser.parse_args()
    build_dir = REPO / "build" / args.build
    if args.build == "native":
        args.program = args.program or str(build_dir / "unvantrel")
        args.holder = args.holder or str(build_dir / "tests" / "e2e" / "e2e_holder")
        args.reg_tool = args.reg_tool or str(build_dir / "vantrel-reg")
    else:
        args.program = args.program or str(build_dir / "UnVantrel.exe")
        args.holder = args.holder or str(build_dir / "tests" / "e2e" / "e2e_holder.exe")
        args.robot = args.robot or str(build_dir / "tests" / "e2e" / "e2e_robot.exe")
    args.programs_dir = args.programs_dir or str(build_dir / "tests" / "programs")
    args.work = args.work or str(build_dir / "tests" / "e2e" / "work")

    # The 64-bit tree behaves as Windows does for the 32-bit one: it skips what
    # that skips, and what only 64-bit Wine gets wrong.
    builds = ["win32", "win64"] if args.build == "win64" else [args.build]
    scenarios = load_scenarios(args.scenarios, args.filter, builds)
    machine = NativeMachine(args) if args.build == "native" else WineMachine(args)
    passed = failed = skipped = 0
    try:
        machine.start()
        for scenario in scenarios:
            if scenario.skip:
                skipped += 1
                print("SKIP %s: %s" % (scenario.name, scenario.skip))
                continue
            started = time.time()
            program = 0.0
            try:
                check, events = run_scenario(machine, scenario)
                problems = check.report()
                program = check.program_seconds
            except (ScenarioError, OSError, subprocess.SubprocessError, ValueError) as e:
                problems, events = "  - could not run: %s" % e, []
            took = "%.1f s, program %.1f s" % (time.time() - started, program)
            if problems:
                failed += 1
                print("FAIL %s (%s)" % (scenario.name, took))
                print(problems)
                print("    transcript:")
                for e in events:
                    print("      " + json.dumps(e))
            else:
                passed += 1
                print("PASS %s (%s)" % (scenario.name, took))
                if args.verbose:
                    for e in events:
                        print("      " + json.dumps(e))
            sys.stdout.flush()
    finally:
        machine.stop()
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
