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
import re
import shutil
import subprocess
import sys
import time
import tomllib
from pathlib import Path

import unattended
from machines import (HERE, REPO, SESSION_MANAGER, NativeMachine, ScenarioError,
                      WineMachine, full_key, kill_tree, multi_sz, normalise_text)


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
    held = [("hold", f) for f in scenario.data.get("held", [])]
    held += [("mutex", name) for name in scenario.data.get("held_mutexes", [])]
    for i, (mode, what) in enumerate(held):
        ready = scenario_dir / ("held%d.ready" % i)
        stop = scenario_dir / ("held%d.stop" % i)
        for p in (ready, stop):
            if p.exists():
                p.unlink()
        cmd = machine.holder_cmd(mode, scenario.expand(what, machine),
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
            raise ScenarioError("holder could not take %s (exit %s)" % (what, proc.poll()))
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

    want_dialogs = [d for d in exp.get("dialog", [])
                    if machine.build in d.get("builds", [machine.build])]
    check.equal("number of dialogs", len(want_dialogs), len(dialogs))
    for i, (want, got) in enumerate(zip(want_dialogs, dialogs)):
        for key, value in want.items():
            if key == "builds":
                continue
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
            # A build that shows more windows than another gets answers of its own.
            answers = scenario.data.get("answers_" + machine.build,
                                        scenario.data.get("answers", []))
            return machine.run_program(raw_args, answers,
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
