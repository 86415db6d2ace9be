#!/usr/bin/env python3
"""Removal on a live machine, on either build: checks that need a second
process beside the uninstaller, or a restart, and so no scenario can hold.

    live_run.py --build native|win32|win64 --program P --holder H
                [--reg-tool T] --programs-dir D --work W [--only NAME]

- moved-aside: a library loaded by another process is moved aside to a
  hidden "~vtNNNNN.tmp" beside it and that name is scheduled for deletion at
  restart (the report names it in "moved_to"; the preview predicts it); the
  folder that holds only it goes at restart too. A new file put at the old
  path survives the restart (natively `vantrel-reg restart`, under Wine
  `wineboot -r`); the moved-aside file is gone.
- one-at-a-time: a run held at a PreRunApp program keeps a second /S run
  out (1618, nothing changed), and the second run names the same /LOG: it
  writes nothing there, and the first run's report is whole at its end; the
  second run succeeds once the first ended.
- session: while the phases run the session's end is refused (natively
  SIGPWR, under Wine `wineboot --end-session`); when it ends all the same
  (natively SIGPWR queued with 1, under Wine WM_ENDSESSION with TRUE sent
  to the run's window by the holder) the run stops after the entry it was
  doing: the log stays and the report has its end line.

Prints PASS/FAIL per check and "N passed, N failed"; exits non-zero on a
failure.
"""
import argparse
import ctypes
import json
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path
from types import SimpleNamespace

sys.path.insert(0, str(Path(__file__).resolve().parent))
from machines import NativeMachine, WineMachine, kill_tree, run_bounded  # noqa: E402

DIR = "C:\\E2E\\LIVE"
MARK = re.compile(r"^~vt[0-9a-f]{5}\.tmp$", re.IGNORECASE)


class CheckFailed(Exception):
    pass


class SkipCheck(Exception):
    pass


def expect(condition, text):
    if not condition:
        raise CheckFailed(text)


class Live:
    def __init__(self, args):
        self.args = args
        self.m = NativeMachine(args) if args.build == "native" else WineMachine(args)
        if not isinstance(self.m, NativeMachine):
            self.m.prefixes.pop("win95")  # every check here is of the NT family
        self.native = args.build == "native"

    def fresh(self, name):
        self.m.fresh(SimpleNamespace(name="live-" + name, platform="nt"))
        self.work = Path(self.args.work) / self.args.build / ("live-" + name)
        self.work.mkdir(parents=True, exist_ok=True)
        for f in self.work.iterdir():
            if f.is_file():
                f.unlink()

    def win(self, native):
        return self.m.marker_path(native)

    def cmd(self, *argv):
        program = str(Path(self.args.program).resolve())
        return ([program] if self.native else self.m.wine + [program]) + list(argv)

    def start(self, *argv):
        return subprocess.Popen(self.cmd(*argv), env=self.m.env(), start_new_session=True,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def run(self, *argv, timeout=120):
        code, _, _ = run_bounded(self.cmd(*argv), timeout, env=self.m.env())
        return code

    def log(self, text):
        path = DIR + "\\install.log"
        self.m.write_file(path, text.replace("\n", "\r\n").encode("cp1252"))
        return path

    def report(self, name):
        path = self.work / name
        lines = path.read_text(encoding="utf-8").splitlines() if path.exists() else []
        return [json.loads(line) for line in lines if line.strip()]

    def exists(self, win_path):
        return self.m.native_of(win_path).exists()

    def wait_for(self, path, seconds=60):
        deadline = time.time() + seconds
        while time.time() < deadline and not path.exists():
            time.sleep(0.05)
        expect(path.exists(), "no %s after %d s" % (path.name, seconds))

    def restart(self):
        """What the system does with its restart-time list when it starts."""
        if self.native:
            code, out, err = run_bounded([str(Path(self.args.reg_tool).resolve()), "restart"], 30, env=self.m.env())
        else:
            code, out, err = run_bounded(self.m.wine + ["wineboot", "-r"], 120, env=self.m.env())
            run_bounded(["wineserver", "-w"], 60, env=self.m.env())
        expect(code == 0, "the restart-time list was not carried out: %r" % (out + err))

    # -------------------------------------------------------------- checks

    def moved_aside(self):
        self.fresh("moved-aside")
        lib = DIR + "\\app\\vtlib.dll"
        # A second folder that nothing fills again: at the restart it goes
        # after the file moved aside in it (the list's order).
        lib2 = DIR + "\\app2\\vtlib2.dll"
        self.m.write_file(DIR + "\\app\\readme.txt", b"free\r\n")
        for path in (lib, lib2):
            self.m.native_of(path).parent.mkdir(parents=True, exist_ok=True)
            self.m.native_of(path).write_bytes(
                (Path(self.args.programs_dir) / "vt_plain.dll").read_bytes())
        log = self.log("[CopyFiles]\n%s=1\n%s\\app\\readme.txt=1\n%s=1\n"
                       "[CreateDirs]\n%s\\app=\n%s\\app2=\n" % (lib, DIR, lib2, DIR, DIR))
        ready, stop = self.work / "ready", self.work / "stop"
        ready2 = self.work / "ready2"
        holder = subprocess.Popen(self.m.holder_cmd("load", lib, self.win(ready), self.win(stop)),
                                  env=self.m.env(), start_new_session=True,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        holder2 = subprocess.Popen(self.m.holder_cmd("load", lib2, self.win(ready2),
                                                     self.win(stop)),
                                   env=self.m.env(), start_new_session=True,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.wait_for(ready)
            self.wait_for(ready2)
            preview_path = self.work / "preview.jsonl"
            code = self.run(log, "/S", "/PREVIEW", "/LOG=" + self.win(preview_path))
            expect(code == 0, "preview exit %s" % code)
            predicted = [e for e in self.report("preview.jsonl") if e.get("type") == "entry"]
            run_path = self.work / "run.jsonl"
            code = self.run(log, "/S", "/LOG=" + self.win(run_path))
            expect(code == 3010 % 256 or code == 3010, "run exit %s, not 3010" % code)
            entries = [e for e in self.report("run.jsonl") if e.get("type") == "entry"]
            end = self.report("run.jsonl")[-1]
            expect(end.get("exit") == 3010 and end.get("restart") is True, "end line %r" % end)
            by_entry = {e["entry"]: e for e in entries}
            lib_entry = by_entry.get(lib + "=1", {})
            expect(lib_entry.get("outcome") == "scheduled-at-restart", "library: %r" % lib_entry)
            moved = lib_entry.get("moved_to", "")
            folder, _, name = moved.rpartition("\\")
            expect(folder.upper() == (DIR + "\\app").upper() and MARK.match(name),
                   "moved_to %r is no hidden name of ours beside the file" % moved)
            expect(not self.exists(lib) and self.exists(moved), "the library was not moved aside")
            if self.native:
                # Under Wine the Restart Manager names no application.
                expect(any("e2e_holder" in name for name in lib_entry.get("held_by", [])),
                       "held_by does not name the holder: %r" % lib_entry)
            dir_entry = by_entry.get(DIR + "\\app=", {})
            expect(dir_entry.get("outcome") == "scheduled-at-restart", "folder: %r" % dir_entry)
            # The preview predicts the same outcomes and a name of the same form.
            expect([(e["entry"], e["outcome"]) for e in predicted] ==
                   [(e["entry"], "would-" + e["outcome"]) for e in entries],
                   "preview %r against run %r" % (predicted, entries))
            p_lib = [e for e in predicted if e["entry"] == lib + "=1"][0]
            expect(MARK.match(p_lib.get("moved_to", "").rpartition("\\")[2]),
                   "the preview's moved_to: %r" % p_lib)
        finally:
            stop.touch()
            holder.wait(timeout=60)
            holder2.wait(timeout=60)
        # Installed again before the restart: the new file stays.
        self.m.write_file(lib, b"new version\r\n")
        self.restart()
        expect(self.exists(lib) and self.m.native_of(lib).read_bytes() == b"new version\r\n",
               "the restart took the new file")
        expect(not self.exists(moved), "the moved-aside file is still there after the restart")
        expect(not self.exists(DIR + "\\app2"),
               "the folder left with a moved-aside file only is still there after the restart")

    def one_at_a_time(self):
        self.fresh("one-at-a-time")
        ready, stop = self.work / "ready", self.work / "stop"
        holder = str(Path(self.args.holder).resolve())
        holder_win = self.win(Path(holder))
        self.m.write_file(DIR + "\\first\\a.txt", b"a\r\n")
        self.m.write_file(DIR + "\\first\\busy.txt", b"held by the PreRunApp program\r\n")
        self.m.write_file(DIR + "\\second\\b.txt", b"b\r\n")
        first = DIR + "\\first\\install.log"
        self.m.write_file(first, ("[PreRunApp]\r\na=%s,hold %s\\first\\busy.txt %s %s,,0,\r\n"
                                  "[CopyFiles]\r\n%s\\first\\a.txt=1\r\n"
                                  % (holder_win, DIR, self.win(ready), self.win(stop), DIR))
                          .encode("cp1252"))
        second = DIR + "\\second\\install.log"
        self.m.write_file(second, ("[CopyFiles]\r\n%s\\second\\b.txt=1\r\n" % DIR).encode("cp1252"))
        report = "/LOG=" + self.win(self.work / "first.jsonl")
        running = self.start(first, "/S", report)
        try:
            self.wait_for(ready)
            before = (self.work / "first.jsonl").read_bytes()
            # A fleet tool runs the same command line for another product.
            code = self.run(second, "/S", report)
            expect(code == 1618 % 256 or code == 1618, "second run exit %s, not 1618" % code)
            expect(self.exists(DIR + "\\second\\b.txt") and self.exists(second),
                   "the run kept out changed something")
            expect((self.work / "first.jsonl").read_bytes() == before,
                   "the run kept out wrote over the running one's report")
        finally:
            stop.touch()
            first_code = running.wait(timeout=120)
        expect(first_code == 0, "first run exit %s" % first_code)
        lines = self.report("first.jsonl")
        expect(lines and lines[0].get("log", "").upper() == first.upper(),
               "the report does not start with the first run's line: %r" % lines[:1])
        expect([(e.get("phase"), e.get("outcome")) for e in lines if e.get("type") == "entry"] ==
               [("PreRunApp", "program-run"), ("CopyFiles", "removed"),
                ("InstallLog", "removed")] and
               lines[-1].get("type") == "end" and lines[-1].get("exit") == 0 and
               lines[-1].get("complete") is True,
               "the first run's report is not whole: %r" % lines)
        code = self.run(second, "/S")
        expect(code == 0, "second run after the first: exit %s" % code)
        expect(not self.exists(DIR + "\\second\\b.txt"), "the second run removed nothing")

    def session(self):
        """The session's end while the phases run: refused, then forced. The
        run is held inside its phases by servers that wait at a gate (a file
        the test creates), so every step happens while the phases run."""
        self.fresh("session")
        gates = 24  # enough for wineboot to start and ask, on a loaded machine too
        servers = []
        for i in range(gates):
            server = "%s\\app\\gate%d.dll" % (DIR, i)
            self.m.native_of(server).parent.mkdir(parents=True, exist_ok=True)
            self.m.native_of(server).write_bytes(
                (Path(self.args.programs_dir) / "vt_gate.dll").read_bytes())
            servers.append(server)
        files = ["%s\\app\\f%02d.txt" % (DIR, i) for i in range(20)]
        for f in files:
            self.m.write_file(f, b"x")
        log = self.log("[RegServers]\n" + "".join(s + "=\n" for s in servers) +
                       "[CopyFiles]\n" + "".join(f + "=1\n" for f in files))
        gate, calls = self.work / "gate", self.work / "servers.log"
        report = self.work / "session.jsonl"
        env = self.m.env()
        env.update(VT_GATE=self.win(gate), VANTREL_TEST_LOG=self.win(calls))
        ender = None
        running = subprocess.Popen(self.cmd(log, "/S", "/LOG=" + self.win(report)), env=env,
                                   start_new_session=True, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def started():
            return calls.read_text().count("DllUnregisterServer") if calls.exists() else 0

        def release():
            """Lets the waiting server return and waits for the next one: the
            run takes the messages sent to it between two entries, at most
            every 50 ms, so the gate opens only after a longer pause."""
            n = started()
            expect(n < gates, "every gate was used")
            time.sleep(0.2)
            gate.touch()
            deadline = time.time() + 120
            while time.time() < deadline and started() <= n and running.poll() is None:
                time.sleep(0.02)
            expect(running.poll() is None, "the run ended after server %d" % n)
            expect(started() > n, "server %d was not called" % (n + 1))

        try:
            deadline = time.time() + 120
            while time.time() < deadline and started() < 1 and running.poll() is None:
                time.sleep(0.02)
            expect(started() == 1, "the first server was not called")
            # The query: refused, the run goes on.
            if self.native:
                os.kill(running.pid, signal.SIGPWR)
                release()
            else:
                asker = subprocess.Popen(self.m.wine + ["wineboot", "--end-session"],
                                         env=self.m.env(), stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
                try:
                    # Gate after gate until the run has answered wineboot.
                    while asker.poll() is None:
                        release()
                finally:
                    if asker.poll() is None:
                        kill_tree(asker)
            expect(running.poll() is None, "the query ended the run")
            # The session ends all the same: the run stops after the entry.
            if self.native:
                # sigqueue(pid, SIGPWR, {1}): the session ends whatever the answer.
                libc = ctypes.CDLL(None, use_errno=True)
                libc.sigqueue(ctypes.c_int(running.pid), ctypes.c_int(signal.SIGPWR),
                              ctypes.c_void_p(1))
            else:
                # What the system sends each top-level window when it ends the
                # session anyway.
                ender = subprocess.Popen(self.m.holder_cmd("session", "end"), env=self.m.env(),
                                         start_new_session=True, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            # Gate after gate until the run takes the message and stops after
            # the server it was waiting for.
            while True:
                done_servers = started()
                expect(done_servers < gates, "every gate was used")
                time.sleep(0.2)
                gate.touch()
                deadline = time.time() + 120
                while time.time() < deadline and started() <= done_servers and \
                        running.poll() is None:
                    time.sleep(0.02)
                if running.poll() is not None or started() <= done_servers:
                    break
            code = running.wait(timeout=120)
            if ender is not None:
                expect(ender.wait(timeout=60) == 0, "WM_ENDSESSION could not be sent")
        finally:
            for proc in (running, ender):
                if proc is not None and proc.poll() is None:
                    kill_tree(proc)
        expect(code in (1603, 1603 % 256), "exit %s after the session ended" % code)
        entries = self.report("session.jsonl")
        end = entries[-1] if entries else {}
        expect(end.get("type") == "end" and end.get("exit") == 1603,
               "no end line with 1603 after the session ended: %r" % end)
        done = [e for e in entries if e.get("type") == "entry"]
        expect(len(done) == done_servers and all(e["phase"] == "RegServers" for e in done),
               "not stopped after the entry it was doing: %d servers called, entries %r"
               % (done_servers, done))
        expect(self.exists(log), "the log is gone")
        expect(all(self.exists(f) for f in files), "files were removed after the end")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--holder", required=True)
    parser.add_argument("--reg-tool")
    parser.add_argument("--robot")
    parser.add_argument("--programs-dir", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    live = Live(args)
    live.m.start()
    passed = failed = skipped = 0
    try:
        for name in ("moved_aside", "one_at_a_time", "session"):
            if args.only and args.only != name:
                continue
            try:
                getattr(live, name)()
                print("PASS", name)
                passed += 1
            except SkipCheck as reason:
                print("SKIP", name, "-", reason)
                skipped += 1
            except (CheckFailed, Exception) as error:  # noqa: B014
                print("FAIL", name, "-", error)
                failed += 1
    finally:
        live.m.stop()
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
