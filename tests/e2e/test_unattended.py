#!/usr/bin/env python3
"""Checks that the checks of unattended runs can fail: a report that does not
add up, a window in a run no one answers, a preview that predicted another
outcome, a known mismatch that no longer occurs. Each case feeds the checks
a made-up report, transcript or pair of reports."""

import json
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import run_scenarios as rs  # noqa: E402
import unattended as ua  # noqa: E402
from transcript import parse_transcript  # noqa: E402

START = {"type": "start", "program": "Vantrel Uninstaller", "platform": {"family": "NT"},
         "start": "2026-12-09T03:00:00Z"}


def entry(outcome, name="C:\\A\\a.txt=1"):
    return {"type": "entry", "phase": "CopyFiles", "entry": name, "outcome": outcome}


def end(counts, exit_code=0, restart=False):
    return {"type": "end", "counts": counts, "exit": exit_code, "restart": restart,
            "duration_ms": 5, "complete": True}


class FolderMachine:
    """Windows paths below one temporary folder; the native build."""
    build = "native"

    def __init__(self, folder):
        self.work = Path(folder)

    def native_of(self, path):
        return self.work / path.replace(":", "").replace("\\", "/")


def report_problems(lines, exit_code=0, expect=None):
    with tempfile.TemporaryDirectory() as folder:
        machine = FolderMachine(folder)
        target = machine.native_of("C:\\r.jsonl")
        target.parent.mkdir(parents=True)
        target.write_bytes(lines if isinstance(lines, bytes) else
                           "".join(json.dumps(l) + "\n" for l in lines).encode("utf-8"))
        expect = dict(expect or {}, path="C:\\r.jsonl")
        scenario = rs.Scenario(Path("x.toml"), {"name": "x", "expect": {"report": expect}})
        check = rs.Checker()
        ua.compare_report(check, scenario, machine, [{"type": "exit", "code": exit_code}])
        return [p[0] for p in check.problems]


class ReportTest(unittest.TestCase):
    def test_a_report_must_add_up(self):
        good = [START, entry("removed"), end({"removed": 1})]
        cases = [
            ("as it should be", good, 0, []),
            ("counts that do not match the entries", [START, entry("removed"), end({"removed": 2})],
             0, ["report end counts = the entries' outcomes"]),
            ("another exit code than the process's", good, 1603,
             ["report end exit = the process's exit code"]),
            ("native: 3010 arrives as 194", [START, entry("scheduled-at-restart"),
                                             end({"scheduled-at-restart": 1}, 3010, True)], 194, []),
            ("a restart without a scheduled entry", [START, entry("removed"),
                                                    end({"removed": 1}, 0, True)], 0,
             ["report end restart = an entry was scheduled at restart"]),
            ("a line was lost", [START, entry("removed"),
                                 dict(end({"removed": 1}), complete=False)], 0,
             ["report end complete (no line was lost)"]),
            ("no end record", [START, entry("removed")], 0, ["report: start, entries, end"]),
            ("not UTF-8", b'{"type":"start","log":"caf\xe9"}\n', 0, ["report is UTF-8"]),
        ]
        for what, lines, code, expected in cases:
            with self.subTest(what):
                self.assertEqual(report_problems(lines, code), expected)

    def test_entries_compare_in_order_and_in_full(self):
        lines = [START, entry("removed"), entry("absent", "C:\\A\\b.txt=1"),
                 end({"removed": 1, "absent": 1})]
        want = [{"entry": "C:\\A\\a.txt=1", "outcome": "removed"},
                {"entry": "C:\\A\\b.txt=1", "outcome": "absent"}]
        self.assertEqual(report_problems(lines, expect={"entries": want}), [])
        for wrong in (want[:1], want[::-1]):
            self.assertEqual(report_problems(lines, expect={"entries": wrong}),
                             ["report entries (phase, entry, outcome, ...)"])


class WatchTest(unittest.TestCase):
    def test_a_watched_run_shows_no_window(self):
        cases = [
            ("nothing shown", "win32", "", []),
            ("a window the hook saw", "win32", "[shown] class=#32770 Vantrel Uninstaller\n",
             ["windows shown by a run no one answers"]),
            ("a box on the terminal", "native",
             "[box] rect=0,0,9,9\n[caption] Vantrel Uninstaller\n[answer] No\n",
             ["windows shown by a run no one answers"]),
        ]
        for what, build, transcript, expected in cases:
            with self.subTest(what):
                machine = FolderMachine(tempfile.gettempdir())
                machine.build = build
                scenario = rs.Scenario(Path("x.toml"), {"name": "x-no-such", "watch": True})
                check = rs.Checker()
                ua.compare_windows(check, scenario, machine,
                                   parse_transcript(transcript + "[exit] 0\n"))
                self.assertEqual([p[0] for p in check.problems], expected)


class PreviewTest(unittest.TestCase):
    def compare(self, preview, real, known=()):
        check = rs.Checker()
        ua.compare_preview_with_run(check, [START] + preview + [end({})],
                                    [START] + real + [end({})], list(known))
        return [p[0] for p in check.problems]

    def test_each_prediction_must_come_true(self):
        known = {"entry": "C:\\A\\a.txt=1", "key": "outcome", "why": "known"}
        self.assertEqual(self.compare([entry("would-removed")], [entry("removed")]), [])
        self.assertEqual(self.compare([entry("would-removed")], [entry("failed")]),
                         ["preview predicted CopyFiles C:\\A\\a.txt=1"])
        self.assertEqual(self.compare([entry("would-removed")], []),
                         ["preview and run report the same number of entries"])
        self.assertEqual(self.compare([entry("would-removed")], [entry("failed")], [known]), [])
        self.assertEqual(self.compare([entry("would-removed")], [entry("removed")], [known]),
                         ["a known mismatch no longer occurs (known): remove it"])


class CasesTest(unittest.TestCase):
    def test_a_case_replaces_keys_and_merges_expect(self):
        data = {"name": "s", "args": "a", "expect": {"exit_code": 0, "present": ["x"]},
                "case": [{"name": "one", "args": "b", "expect": {"exit_code": 87}}]}
        [one] = ua.expand_cases(data)
        self.assertEqual((one["name"], one["args"], one["expect"]),
                         ("s-one", "b", {"exit_code": 87, "present": ["x"]}))
        self.assertEqual(data["expect"]["exit_code"], 0)


if __name__ == "__main__":
    unittest.main()
