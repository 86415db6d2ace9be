"""Checks for the runs that need no one at the screen (/S, /PASSIVE,
/PREVIEW, /LOG): the removal report, the windows a watched run showed, the
scenario files that hold several cases, and the preview property (a preview
changes nothing, and every outcome it predicts is the one the real run then
has). Used by run_scenarios.py, which owns the machines and the transcript.
"""

import copy
import json
import re

ISO_UTC = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z$")
REPORT_DIR = "C:\\E2E\\REPORTS"
WINDOW_EVENTS = ("box", "dialog", "progress_window", "shown")


def expand_cases(data):
    """A scenario file with [[case]] tables stands for one scenario per case:
    a case's keys replace the file's, its [case.expect] keys are merged into
    the file's [expect], and its name is appended to the file's."""
    cases = data.get("case")
    if not cases:
        return [data]
    result = []
    for case in cases:
        merged = copy.deepcopy({k: v for k, v in data.items() if k != "case"})
        for key, value in case.items():
            if key == "expect":
                merged.setdefault("expect", {}).update(copy.deepcopy(value))
            elif key == "name":
                merged["name"] = data["name"] + "-" + value
            else:
                merged[key] = copy.deepcopy(value)
        result.append(merged)
    return result


def visible_exit_code(machine, code):
    """The exit code as the caller sees it: natively POSIX keeps its low 8
    bits (3010 arrives as 194), so the full code is the report's."""
    return code & 0xFF if machine.build == "native" and code is not None else code


# ------------------------------------------------------------ the report


def read_report(check, machine, path):
    """The report's records, or None (a failure is recorded) when it is
    missing or not JSON Lines in UTF-8 from a start record to an end record."""
    native = machine.native_of(path)
    if not native.exists():
        check.fail("report " + path, "exists", "missing")
        return None
    data = native.read_bytes()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        check.fail("report is UTF-8", "UTF-8", str(e))
        return None
    if text and not text.endswith("\n"):
        check.fail("report ends with a line end", "\\n", repr(text[-20:]))
    records = []
    for number, line in enumerate(text.splitlines(), 1):
        try:
            records.append(json.loads(line))
        except ValueError as e:
            check.fail("report line %d is JSON" % number, "JSON", "%s: %r" % (e, line))
            return None
    types = [r.get("type") for r in records]
    if len(records) < 2 or types[0] != "start" or types[-1] != "end" or \
            any(t != "entry" for t in types[1:-1]):
        check.fail("report: start, entries, end", "start entry* end", types)
        return None
    return records


def check_report_shape(check, scenario, machine, records, exit_code):
    """What every report must hold, whatever the run."""
    start, end, entries = records[0], records[-1], records[1:-1]
    check.equal("report start program", "Vantrel Uninstaller", start.get("program"))
    family = {"nt": "NT", "win95": "95"}[scenario.platform]
    check.equal("report start platform family", family, (start.get("platform") or {}).get("family"))
    if not ISO_UTC.match(str(start.get("start"))):
        check.fail("report start time in UTC ISO 8601", "YYYY-MM-DDThh:mm:ssZ", start.get("start"))
    check.equal("report end exit = the process's exit code", exit_code,
                visible_exit_code(machine, end.get("exit")))
    check.equal("report end restart = an entry was scheduled at restart",
                any(e.get("outcome") == "scheduled-at-restart" for e in entries),
                end.get("restart"))
    tally = {}
    for e in entries:
        tally[e.get("outcome")] = tally.get(e.get("outcome"), 0) + 1
    check.equal("report end counts = the entries' outcomes", tally, end.get("counts"))
    check.equal("report end complete (no line was lost)", True, end.get("complete"))
    if not isinstance(end.get("duration_ms"), int) or end["duration_ms"] < 0:
        check.fail("report end duration_ms", "an integer >= 0", end.get("duration_ms"))
    for e in entries:
        if "target" in e and e["target"] == e.get("entry"):
            check.fail("report target only where it differs from the entry", "no target", e)


def compare_report(check, scenario, machine, events):
    """[expect.report]: path, absent, start (keys), end (keys), entries (the
    whole list in order, each compared on the keys it gives)."""
    exp = scenario.expect.get("report")
    if not exp:
        return
    path = scenario.expand(exp["path"], machine)
    if exp.get("absent"):
        if machine.native_of(path).exists():
            check.fail("no report " + path, "missing", "exists")
        return
    records = read_report(check, machine, path)
    if records is None:
        return
    codes = [e.get("code") for e in events if e["type"] == "exit"]
    check_report_shape(check, scenario, machine, records, codes[-1] if codes else None)
    for part, record in (("start", records[0]), ("end", records[-1])):
        for key, value in exp.get(part, {}).items():
            if isinstance(value, str):
                value = scenario.expand(value, machine)
            elif isinstance(value, list):
                value = [scenario.expand(v, machine) if isinstance(v, str) else v for v in value]
            actual = record.get(key)
            if isinstance(value, dict) and isinstance(actual, dict):
                actual = {k: actual.get(k) for k in value}
            check.equal("report %s %s" % (part, key), value, actual)
    if "entries" in exp:
        want = [{k: scenario.expand(v, machine) if isinstance(v, str) else v
                 for k, v in e.items()} for e in exp["entries"]]
        got = [{k: r.get(k) for k in w} for w, r in zip(want, records[1:-1])]
        got += [{k: r.get(k) for k in ("phase", "entry", "outcome")}
                for r in records[1 + len(want):-1]]
        check.equal("report entries (phase, entry, outcome, ...)", want, got)


# ------------------------------------------------------- watched windows


def compare_windows(check, scenario, machine, events):
    """A watched run (scenario key `watch`): no one answers, so every window
    the program showed is a failure unless [expect] windows lists its caption
    (in order; none when not given)."""
    if not scenario.data.get("watch"):
        return
    shown = []
    for e in events:
        if e["type"] == "shown":
            shown.append(e.get("caption"))
        elif e["type"] in WINDOW_EVENTS and machine.build == "native":
            # The terminal prints every box and window; the robot's hook
            # reports them as [shown].
            shown.append(e.get("caption"))
    want = [scenario.expand(w, machine) for w in scenario.expect.get("windows", [])]
    check.equal("windows shown by a run no one answers", want, shown)
    transcript = machine.work / machine.build / scenario.name / "transcript.txt"
    if machine.build == "native" and not want and transcript.exists():
        # Natively a silent run prints nothing at all on the terminal (the
        # test programs' own [started] lines aside).
        text = transcript.read_bytes().decode("cp1252", errors="replace")
        printed = [l for l in text.splitlines() if not l.startswith("[started] ")]
        check.equal("what a silent run printed", [], printed)


def compare_box_mentions(check, scenario, machine, events):
    """[expect] box_mentions: texts the last box must contain (a box whose
    exact wording is the program's own choice, such as the preview's)."""
    boxes = [e for e in events if e["type"] == "box"]
    text = (boxes[-1].get("text") or "") if boxes else ""
    for want in scenario.expect.get("box_mentions", []):
        want = scenario.expand(want, machine)
        if want not in text:
            check.fail("the last box mentions " + want, want, text)


def compare(check, scenario, machine, events):
    compare_report(check, scenario, machine, events)
    compare_windows(check, scenario, machine, events)
    compare_box_mentions(check, scenario, machine, events)


# ------------------------------------------------------ preview property


def snapshot(machine, scenario, scenario_dir, tag):
    """Everything a run could change in the scenario's folder, the registry
    and the Windows folder: names with attributes (through the Win32 calls),
    file bytes, a registry export, wininit.ini."""
    listing = scenario_dir / ("listing-%s.txt" % tag)
    if listing.exists():
        listing.unlink()
    rc = machine.helper("list", scenario.dir, machine.marker_path(listing))
    if rc != 0 or not listing.exists():
        raise RuntimeError("cannot list %s (%s)" % (scenario.dir, rc))
    names = {}
    for line in listing.read_bytes().decode("cp1252").splitlines():
        attributes, _, name = line.partition(" ")
        names[name.upper()] = (name, int(attributes, 16))
    files = {}
    for key, (name, attributes) in names.items():
        if not attributes & 0x10:
            files[key] = machine.native_of(scenario.dir + "\\" + name).read_bytes()
    wininit = machine.native_of("C:\\WINDOWS\\wininit.ini")
    registry = machine.export_all(scenario_dir / ("registry-%s.reg" % tag))
    return {"names": names, "files": files, "registry": registry,
            "wininit": wininit.read_bytes() if wininit.exists() else None}


def compare_snapshots(check, before, after):
    for part in ("names", "files", "registry"):
        b, a = before[part], after[part]
        for key in sorted(set(b) | set(a)):
            if b.get(key) != a.get(key):
                check.fail("preview changed %s %s" % (part, key),
                           _short(b.get(key)), _short(a.get(key)))
    check.equal("preview changed wininit.ini", before["wininit"], after["wininit"])


def _short(value):
    text = repr(value)
    return text if len(text) < 300 else text[:300] + "..."


def compare_preview_with_run(check, preview, real, known):
    """Entry by entry: the same entries in the same order, and each
    would-X of the preview is X in the real run. `known` lists mismatches
    the program is known to have ({entry, key: "outcome" or "target",
    why}): they are reported as such, and fail once they no longer occur,
    so that the list cannot outlive the fault."""
    unseen = {(k["entry"], k["key"]): k for k in known}
    p_entries, r_entries = preview[1:-1], real[1:-1]
    if len(p_entries) != len(r_entries):
        check.fail("preview and run report the same number of entries",
                   [(e.get("phase"), e.get("entry")) for e in p_entries],
                   [(e.get("phase"), e.get("entry")) for e in r_entries])
    for p, r in zip(p_entries, r_entries):
        for key in ("phase", "entry", "target"):
            if p.get(key) != r.get(key) and not unseen.pop((r.get("entry"), key), None):
                check.fail("preview and run: same %s" % key, p, r)
        if p.get("outcome") != "would-" + str(r.get("outcome")) and \
                not unseen.pop((r.get("entry"), "outcome"), None):
            check.fail("preview predicted %s %s" % (r.get("phase"), r.get("entry")),
                       "would-" + str(r.get("outcome")), p.get("outcome"))
    for (entry, key), k in unseen.items():
        check.fail("a known mismatch no longer occurs (%s): remove it" % k.get("why"),
                   "%s differs for %s" % (key, entry), "the same")


def run_preview_property(machine, scenario, scenario_dir, check, run_once):
    """The scenario key `preview_property`: preview, check that nothing
    changed, run for real on the same state, compare the two reports.
    `run_once(args, watch)` runs the program on the laid-out machine and
    returns its events."""
    spec = scenario.data["preview_property"]
    machine.make_dir(REPORT_DIR)
    preview_path = REPORT_DIR + "\\preview.jsonl"
    real_path = REPORT_DIR + "\\run.jsonl"
    options = spec.get("options", "/S")
    before = snapshot(machine, scenario, scenario_dir, "before")
    events = run_once('"%s" %s /PREVIEW /LOG=%s' % (scenario.log, options, preview_path))
    after = snapshot(machine, scenario, scenario_dir, "after-preview")
    compare_snapshots(check, before, after)
    programs_log = scenario_dir / "programs.log"
    if programs_log.exists():
        check.fail("no program or server code ran in the preview", "no programs.log",
                   programs_log.read_bytes().decode("cp1252", errors="replace").splitlines())
    preview = read_report(check, machine, preview_path)
    if preview:
        check_report_shape(check, scenario, machine, preview, _exit_of(events))
        outcomes = [e.get("outcome", "") for e in preview[1:-1]]
        if not all(o.startswith("would-") for o in outcomes):
            check.fail("every preview outcome is would-...", [], outcomes)
    events += run_once('"%s" %s /LOG=%s' % (scenario.log, options, real_path))
    real = read_report(check, machine, real_path)
    if real:
        check_report_shape(check, scenario, machine, real, _exit_of(events))
        seen = {e.get("outcome") for e in real[1:-1]}
        want = spec.get("outcomes", []) + spec.get("outcomes_" + machine.build, [])
        missing = [o for o in want if o not in seen]
        if missing:
            check.fail("the installation gives the real run these outcomes", want, sorted(seen))
    if preview and real:
        known = [{k: scenario.expand(v, machine) for k, v in m.items()}
                 for m in spec.get("known_mismatches_" + machine.build, [])]
        compare_preview_with_run(check, preview, real, known)
    # The same snapshot sees what the real run changed: the comparison above
    # cannot pass for want of eyes.
    final = snapshot(machine, scenario, scenario_dir, "after-run")
    for part in ("names", "files", "registry"):
        if after[part] == final[part]:
            check.fail("the real run changed the %s" % part, "changes", "none")
    return events


def _exit_of(events):
    codes = [e.get("code") for e in events if e["type"] == "exit"]
    return codes[-1] if codes else None
