#!/usr/bin/env python3
"""The floors of the source tree and the directions of their includes.

wordmodel <- codec <- search <- platform <- batch <- frontend <- cli, gui,
winui: a file includes headers of its own floor and of floors below it
only, so no floor reaches up and no circle can form. frontend/ holds what
the two windows share beside their drawing, and the two windows (gui/ in
Qt, winui/ in Win32) and the command line never include one another. The headers of platform/ include no
system header of one operating system (its implementations in platform/posix/
and platform/windows/ do), and the floors above platform/ reach the
operating system through it alone.

Usage: layout_test.py [--root PATH] [unittest arguments]
"""

import argparse
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FLOORS = ["wordmodel", "codec", "search", "platform", "batch", "frontend", "cli", "gui", "winui"]
LEVEL = {"wordmodel": 0, "codec": 1, "search": 2, "platform": 3, "batch": 4, "frontend": 5,
         "cli": 6, "gui": 6, "winui": 6}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
# Headers of one operating system; the standard C and C++ headers are not.
SYSTEM_HEADERS = re.compile(r"^(sys/|unistd\.h|fcntl\.h|signal\.h|csignal|poll\.h|dirent\.h|spawn\.h|pthread\.h|"
                            r"time\.h|termios\.h|pwd\.h|grp\.h|windows\.h|io\.h|direct\.h)")
# The folders of each floor that are tests of it rather than part of it.
TEST_FOLDERS = ("gui/tests/", "frontend/tests/", "winui/tests/")
# The Win32 window draws with the system's own controls, as gui/ draws with
# Qt: its window files include the system's headers. Its logic without a
# window builds and is tested everywhere, and names none.
WINDOW_SYSTEM_FILES = re.compile(r"^winui/(?!layout\.|text\.)[^/]+\.(h|cc)$")
WINDOW_SYSTEM_TESTS = re.compile(r"^winui/tests/(?!logic_test\.cc$)")


def sources(floor):
    """The C++ files of a floor, by path relative to the root."""
    found = []
    for dirpath, _, files in os.walk(os.path.join(ROOT, floor)):
        for name in files:
            if name.endswith((".h", ".cc")):
                found.append(os.path.relpath(os.path.join(dirpath, name), ROOT))
    return sorted(found)


def includes(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return INCLUDE.findall(f.read())


class Floors(unittest.TestCase):
    def test_every_floor_has_sources(self):
        for floor in FLOORS:
            self.assertTrue(sources(floor), floor)
        for old in ("shell", "codec/jobs"):
            self.assertFalse(os.path.exists(os.path.join(ROOT, old)), old + " is gone: platform/ and batch/ hold it")

    def test_the_front_end_reaches_no_window_system(self):
        # What both windows share names neither Qt nor Win32.
        wrong = [f"{path} includes <{h}>" for path in sources("frontend") for kind, h in includes(path)
                 if kind == "<" and (h.startswith("Q") or h.lower() in ("windows.h", "commctrl.h"))]
        self.assertEqual(wrong, [])

    def test_includes_point_to_the_same_floor_or_below(self):
        wrong = []
        for floor in FLOORS:
            for path in sources(floor):
                for kind, header in includes(path):
                    top = header.split("/")[0]
                    if kind == '"' and top in LEVEL and LEVEL[top] > LEVEL[floor]:
                        wrong.append(f"{path} includes {header}")
                    if kind == '"' and top in LEVEL and LEVEL[top] == LEVEL[floor] and top != floor:
                        wrong.append(f"{path} includes {header}, of a floor beside its own")
        self.assertEqual(wrong, [])

    def test_platform_headers_name_no_system_header(self):
        wrong = []
        for path in sources("platform"):
            if not path.endswith(".h") or path.count("/") > 1:
                continue  # the implementations of one system may
            wrong += [f"{path} includes <{h}>" for kind, h in includes(path) if kind == "<" and SYSTEM_HEADERS.match(h)]
        self.assertEqual(wrong, [])

    def test_only_platform_implementations_include_system_headers(self):
        wrong = []
        for floor in FLOORS:
            for path in sources(floor):
                if path.startswith(("platform/posix/", "platform/windows/")) or WINDOW_SYSTEM_FILES.match(path):
                    continue
                if path.startswith(TEST_FOLDERS) and not path.startswith("winui/"):
                    continue
                if WINDOW_SYSTEM_TESTS.match(path):
                    continue
                wrong += [f"{path} includes <{h}>" for kind, h in includes(path)
                          if kind == "<" and SYSTEM_HEADERS.match(h)]
        self.assertEqual(wrong, [])

    def test_portable_platform_code_reaches_no_implementation(self):
        wrong = []
        for path in sources("platform"):
            if path.startswith(("platform/posix/", "platform/windows/")):
                continue
            wrong += [f"{path} includes {h}" for kind, h in includes(path)
                      if h.startswith(("platform/posix/", "platform/windows/"))]
        self.assertEqual(wrong, [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=ROOT)
    args, rest = parser.parse_known_args()
    ROOT = os.path.abspath(args.root)
    ci_unittest.main(argv=[sys.argv[0], *rest])
