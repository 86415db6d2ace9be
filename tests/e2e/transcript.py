"""The transcript the scenarios compare: what the user saw, in the terminal
front-end's tagged form (the native program writes it, the robot writes the
same under Wine), turned into events."""

import os
import re

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
