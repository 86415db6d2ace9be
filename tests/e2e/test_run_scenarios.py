#!/usr/bin/env python3
"""Checks that the scenario runner's checks can fail: an unexpected box, a
box on the wrong side of the progress window's end, a program started before
its caption, a registry export that fails, a programs log that is missing or
empty. Each case feeds the runner a made-up transcript or machine."""

import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import machines  # noqa: E402
import run_scenarios as rs  # noqa: E402
from transcript import parse_transcript  # noqa: E402

CONFIRM = "[box] rect=0,0,10,10\n[caption] Vantrel Uninstaller\n[buttons] 6 Yes | 7 No\n[answer] Yes\n"
FINAL = "[box] rect=0,0,10,10\n[caption] Vantrel Uninstaller\n[text] Done\n[buttons] 1 OK\n[answer] OK\n"
WINDOW = "[window] DLG_UNINSTALL rect=0,0,10,10\n"
CLOSED = "[closed] DLG_UNINSTALL\n"


class FakeMachine:
    build = "native"

    def __init__(self, keys=None):
        self.keys = keys or {}  # exported key -> its .reg text, None when the export fails
        self.exported = []

    def export_key(self, key):
        self.exported.append(key)
        return self.keys.get(key)

    read_key = machines.Machine.read_key


def problems_shown(transcript, expect):
    scenario = rs.Scenario(Path("x.toml"), {"name": "x", "expect": expect})
    check = rs.Checker()
    events = parse_transcript(transcript + "[exit] 0\n")
    rs.compare_shown(check, scenario, FakeMachine(), events)
    return [p[0] for p in check.problems]


class ShownTest(unittest.TestCase):
    BOXES = [{"buttons": ["Yes", "No"]}, {"text": "Done"}]

    def test_boxes_and_the_window_end(self):
        cases = [
            ("as expected", CONFIRM + WINDOW + FINAL + CLOSED, self.BOXES, []),
            ("an extra box", CONFIRM + WINDOW + FINAL + FINAL + CLOSED, self.BOXES,
             ["number of message boxes"]),
            ("a box listed for the other build only", CONFIRM + WINDOW + FINAL + CLOSED,
             self.BOXES + [{"builds": ["win32"]}], []),
            ("the window never closes", CONFIRM + WINDOW + FINAL, self.BOXES,
             ["times the progress window closed"]),
            ("the error box while the window is still open", CONFIRM + WINDOW + FINAL + CLOSED,
             [self.BOXES[0], {"text": "Done", "after_window": True}],
             ["box 2 shown after the progress window closed"]),
            ("the final box after the window closed", CONFIRM + WINDOW + CLOSED + FINAL,
             self.BOXES, ["box 2 shown after the progress window closed"]),
        ]
        for what, transcript, boxes, expected in cases:
            with self.subTest(what):
                self.assertEqual(problems_shown(transcript, {"box": boxes}), expected)

    def test_a_program_must_start_after_its_caption(self):
        expect = {"box": self.BOXES, "timeline": ["progress Preparing", "started pre"]}
        good = CONFIRM + WINDOW + "[progress] Preparing\n[started] pre\n" + FINAL + CLOSED
        late = CONFIRM + WINDOW + "[started] pre\n[progress] Preparing\n" + FINAL + CLOSED
        self.assertEqual(problems_shown(good, expect), [])
        self.assertEqual(problems_shown(late, expect),
                         ["progress lines and program starts, in order"])


class RegistryTest(unittest.TestCase):
    KEY = r"HKEY_CURRENT_USER\Software\T\App"
    PARENT_WITHOUT = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n\"V\"=\"1\"\n"
    PARENT_WITH = PARENT_WITHOUT + "\n[HKEY_CURRENT_USER\\Software\\T\\App]\n"
    OWN = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T\\App]\n\"X\"=\"1\"\n"

    def test_absence_needs_proof_and_a_failed_export_is_an_error(self):
        parent = r"HKEY_CURRENT_USER\Software\T"
        cases = [
            ("the key exported", {self.KEY: self.OWN}, "present"),
            ("missing, its parent shows no such key", {parent: self.PARENT_WITHOUT}, None),
            ("the export failed, the parent shows the key", {parent: self.PARENT_WITH},
             "cannot export"),
            ("every export failed", {}, "nor any key above it"),
        ]
        for what, keys, outcome in cases:
            with self.subTest(what):
                machine = FakeMachine({k: v.encode("cp1252") for k, v in keys.items()})
                if outcome is None:
                    self.assertIsNone(machine.read_key(self.KEY, {}))
                elif outcome == "present":
                    self.assertIsNotNone(machine.read_key(self.KEY, {}))
                else:
                    with self.assertRaisesRegex(rs.ScenarioError, outcome):
                        machine.read_key(self.KEY, {})


class ProgramsLogTest(unittest.TestCase):
    def test_missing_and_empty_logs(self):
        cases = [
            ("missing, nothing to record", None, {"recorded_runs": 0}, []),
            ("missing, a run expected", None, {"recorded_runs": 1}, ["the test programs' log"]),
            ("missing, lines expected", None, {"recorded": ["exit 0"]},
             ["the test programs' log"]),
            ("empty", b"", {"recorded_runs": 0}, ["the test programs' log"]),
            ("one run", b"run vt_recorder\nexit 0\n", {"recorded_runs": 1}, []),
        ]
        for what, content, expect, expected in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                if content is not None:
                    (Path(folder) / "programs.log").write_bytes(content)
                scenario = rs.Scenario(Path("x.toml"), {"name": "x", "expect": expect})
                check = rs.Checker()
                rs.compare_programs(check, scenario, FakeMachine(), Path(folder))
                self.assertEqual([p[0] for p in check.problems], expected)


if __name__ == "__main__":
    unittest.main()
