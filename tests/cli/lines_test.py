#!/usr/bin/env python3
"""Line mode of the search command (--lines, -A, -B, -C, -n, -b), through
the real program, against lines that this test computes from the plain text:
texts with LF and CRLF ends, long lines, several hits on a line and phrases
that go on over line ends; and the time and memory that line mode takes on
one very long line full of hits.

Usage: lines_test.py --moravine PATH [--build-type TYPE] [unittest arguments]
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

MORAVINE = None
SANITIZED = False
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
ELLIPSIS = "\u2026"
SHOWN = 240  # the longest line shown whole in text rows
WORDS = "ka whale ship sea the white captain boat deck mast sail wind rope a to of and I that had".split()


def run(*args):
    r = subprocess.run([MORAVINE, "-q", "search", *args], capture_output=True, timeout=300)
    assert r.returncode in (0, 1), (args, r.returncode, r.stderr)
    return r.stdout.decode()


def compress(path, text, words_model=False):
    with open(path, "w", newline="") as f:
        f.write(text)
    extra = ["--words"] if words_model else []
    subprocess.run([MORAVINE, "-q", "compress", "-f", *extra, path], check=True)
    return path + ".hwz"


def word_spans(text):
    return [(m.start(), m.end(), m.group()) for m in re.finditer(r"[A-Za-z0-9]+", text)]


def hits_of(text, phrase):
    """(start, end) of each occurrence of the phrase's words in a row, parted
    by blanks, tabs and line ends: the search's hits."""
    want = phrase.split()
    spans = word_spans(text)
    found = []
    for i in range(len(spans) - len(want) + 1):
        if all(spans[i + k][2] == want[k] for k in range(len(want))) and all(
                re.fullmatch(r"[ \t\r\n]+", text[spans[i + k][1]:spans[i + k + 1][0]]) for k in range(len(want) - 1)):
            found.append((spans[i][0], spans[i + len(want) - 1][1]))
    return found


class Text:
    """The text's lines as a reader sees them: a final line feed ends the
    last line, a carriage return before a line feed is not part of its line."""

    def __init__(self, text):
        self.text = text
        raw = text.split("\n")
        if text.endswith("\n"):
            raw.pop()
        self.lines = [l[:-1] if l.endswith("\r") else l for l in raw]
        self.starts = []
        at = 0
        for l in raw:
            self.starts.append(at)
            at += len(l) + 1

    def line_of(self, offset):
        return self.text.count("\n", 0, offset) + 1

    def groups(self, hits, before, after):
        """The lines to show, the lines that hold or carry on a hit, and each
        line's first hit (column, offset in the text)."""
        shown, hit_lines, first = set(), set(), {}
        for start, end in hits:
            a, b = self.line_of(start), self.line_of(end - 1)
            hit_lines.update(range(a, b + 1))
            first.setdefault(a, (start - self.starts[a - 1], start))
            shown.update(range(max(1, a - before), min(len(self.lines), b + after) + 1))
        return sorted(shown), hit_lines, first


def printable(s):
    return s.replace("\r", "\\r")


def shown_line(line, anchor):
    """A hit line (anchor: its first hit's column) or a context line (anchor
    None) as text rows show it."""
    if len(line) <= SHOWN:
        return printable(line)
    if anchor is None:
        return printable(line[:SHOWN]) + ELLIPSIS
    start = anchor - SHOWN // 3 if anchor > SHOWN // 3 else 0
    end = min(len(line), start + SHOWN)
    return (ELLIPSIS if start else "") + printable(line[start:end]) + (ELLIPSIS if end < len(line) else "")


def expected_text_rows(text, hits, path, before, after, numbers, offsets):
    t = Text(text)
    shown, hit_lines, first = t.groups(hits, before, after)
    out, previous = [], None
    for n in shown:
        if (before or after) and previous is not None and n > previous + 1:
            out.append("--")
        sep = ":" if n in hit_lines else "-"
        prefix = path + sep + (f"{n}{sep}" if numbers else "")
        if offsets and n in first:
            prefix += f"{first[n][1]}:"
        anchor = (first[n][0] if n in first else 0) if n in hit_lines else None
        out.append(prefix + shown_line(t.lines[n - 1], anchor))
        previous = n
    return out


def expected_json_lines(text, hits, before, after):
    """Per hit: line_text, and with context lines the lines and the index of the hit's."""
    t = Text(text)
    rows = []
    for start, end in hits:
        a, b = t.line_of(start), t.line_of(end - 1)
        lo, hi = max(1, a - before), min(len(t.lines), b + after)
        rows.append((t.lines[a - 1], t.lines[lo - 1:hi], a - lo))
    return rows


def make_text(seed, lines, crlf_share=0.5, long_every=7):
    """Lines of words with LF or CRLF ends; every few lines a long one (over
    the 240 bytes shown), some with many hits; phrases over both ends."""
    rnd = random.Random(seed)
    out = []
    for i in range(lines):
        n = rnd.choice([3, 8, 15]) if i % long_every else rnd.choice([60, 200, 900])
        words = [rnd.choice(WORDS) for _ in range(n)]
        line = " ".join(words)
        if i % 5 == 2:
            line += " the white"  # "the white whale" goes on over the line end
        out.append(line + ("\r\n" if rnd.random() < crlf_share else "\n"))
        if i % 5 == 2:
            out.append("whale " + " ".join(rnd.choice(WORDS) for _ in range(4)) + "\n")
    return "".join(out)


class Base(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-lines-")
        os.chdir(self.dir)

    def tearDown(self):
        os.chdir("/")
        shutil.rmtree(self.dir)


class Mends(Base):
    def test_a_phrase_on_a_line_with_an_earlier_hit_keeps_the_line_it_goes_on_to(self):
        text = "the bottle that I had filled, and the bottle that\nI had brought back\nend\n"
        for model in (False, True):
            path = compress("t.txt", text, model)
            self.assertEqual(run("--lines", "that I", path).splitlines(),
                             ["t.txt.hwz:the bottle that I had filled, and the bottle that",
                              "t.txt.hwz:I had brought back"])
            self.assertEqual(run("-n", "-A", "1", "that I", path).splitlines(),
                             ["t.txt.hwz:1:the bottle that I had filled, and the bottle that",
                              "t.txt.hwz:2:I had brought back", "t.txt.hwz-3-end"])
            # The part of the hit on the next line is highlighted too.
            coloured = run("--color=always", "--lines", "that I", path)
            self.assertIn("\033[1;31mI\033[0m had brought back", coloured)

    def test_no_line_after_the_last_line_feed(self):
        for text in ("one\ntwo ka\n", "one\ntwo ka\r\n", "one\ntwo ka"):
            path = compress("t.txt", text)
            for option in (["-A", "1"], ["-C", "2"], ["-A", "5", "-B", "0"]):
                self.assertEqual(run("-n", *option, "ka", path).splitlines(),
                                 (["t.txt.hwz-1-one"] if option[0] == "-C" else []) + ["t.txt.hwz:2:two ka"],
                                 (text, option))
            self.assertEqual(run("--format", "json", "-A", "3", "ka", path).count('"lines": ["two ka"]'), 1)

    def test_json_lines_have_no_carriage_return_as_line_text_has_none(self):
        path = compress("t.txt", "one\r\ntwo ka\r\nthree\r\n")
        row = json.loads(run("--format", "json", "-C", "1", "ka", path))
        self.assertEqual((row["lines"], row["hit_line"], row["line_text"]), (["one", "two ka", "three"], 1, "two ka"))
        tsv = run("--format", "tsv", "--lines", "ka", path)
        self.assertEqual(tsv.rstrip("\n").split("\t")[-1], "two ka")

    def test_the_documented_json_fields_exist(self):
        path = compress("t.txt", "a whale\n")
        keys = set(json.loads(run("--format", "json", "-n", "-b", "-C", "1", "whale", path)))
        for doc in ("packaging/moravine.1", "docs/cli.md"):
            with open(os.path.join(ROOT, doc)) as f:
                fields = re.findall(r"jq [\\-]*\.(\w+)", f.read())
            for field in fields:
                self.assertIn(field, keys, doc)


class Oracle(Base):
    """Every line option against the lines computed here, under both models."""

    CASES = (["--lines"], ["-n", "--lines"], ["-n", "-b", "--lines"], ["-A", "1"], ["-n", "-B", "2"],
             ["-n", "-C", "1"], ["-n", "-b", "-C", "3"], ["-n", "-A", "2", "-B", "1"])

    def check(self, text, path, phrases):
        for phrase in phrases:
            hits = hits_of(text, phrase)
            self.assertTrue(hits, phrase)
            for option in self.CASES:
                before = int(option[option.index("-B") + 1]) if "-B" in option else 0
                after = int(option[option.index("-A") + 1]) if "-A" in option else 0
                if "-C" in option:
                    before = after = int(option[option.index("-C") + 1])
                want = expected_text_rows(text, hits, path, before, after, "-n" in option, "-b" in option)
                got = run(*option, phrase, path).splitlines()
                self.assertEqual(got, want, (phrase, option))
            rows = [json.loads(l) for l in run("--format", "json", "-B", "1", "-A", "2", phrase, path).splitlines()]
            self.assertEqual([(r["line_text"], r["lines"], r["hit_line"]) for r in rows],
                             expected_json_lines(text, hits, 1, 2), phrase)

    def test_mixed_line_ends_long_lines_and_many_hits_per_line(self):
        for seed, model in ((1, False), (2, True)):
            text = make_text(seed, 120)
            self.check(text, compress("t.txt", text, model), ["ka", "whale", "the white whale", "I", "sail"])

    def test_edges_of_the_text(self):
        # No final line end; empty lines; a hit on the first and the last line.
        for text in ("ka\n\n\nka a\r\n\r\nb ka", "\nka\n", "ka", "a\r\nb\r\nka\r\n"):
            self.check(text, compress("t.txt", text), ["ka"])

    def test_lines_longer_than_any_limit_keep_their_neighbours(self):
        # A line of about a megabyte with a hit near each end, between short
        # ones: the lines around it are shown and it is cut around its hit.
        rnd = random.Random(5)
        filler = " ".join(rnd.choice(WORDS[1:]) for _ in range(180000))
        text = "first line\nsecond ka\n" + "ka " + filler + " ka end\nlast ka line\n"
        self.check(text, compress("t.txt", text), ["ka"])


class Scale(Base):
    """One line of 400 KB, with thousands of hits: line mode takes time and
    memory in proportion to the text."""

    def measure(self, *args):
        """The output lines, CPU seconds and peak RSS (MB) of one search, from
        the child's own resource use: CPU time hardly depends on what else
        runs on the machine. A search still running after two minutes is
        stopped."""
        with open("out.txt", "wb") as out, open("err.txt", "wb") as err:
            proc = subprocess.Popen([MORAVINE, "-q", "search", *args], stdout=out, stderr=err)
            timer = threading.Timer(120, proc.kill)
            timer.start()
            try:
                _, status, usage = os.wait4(proc.pid, 0)
            finally:
                timer.cancel()
        proc.returncode = os.waitstatus_to_exitcode(status)
        with open("err.txt", "rb") as err:
            self.assertEqual(proc.returncode, 0, (args, err.read()))
        with open("out.txt", encoding="utf-8") as f:
            return f.read().splitlines(), usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024

    def test_a_400_kb_line_with_thousands_of_hits(self):
        rnd = random.Random(3)
        line = " ".join(rnd.choice(WORDS) for _ in range(100000))[:400 * 1024]
        line = line[:line.rfind(" ")]
        text = "before\n" + line + "\nafter\n"
        path = compress("t.txt", text)
        # Sanitizers slow the program several times and add their own memory.
        seconds, megabytes = (30, 500) if SANITIZED else (5, 200)
        # A word with errors matches words only: the line feeds, two edits
        # from "ka", are no hits, and the short lines around the long one
        # are context lines.
        for args, around in ((["-e", "2", "--lines", "ka"], []),
                             (["-n", "-C", "1", "-e", "2", "ka"], ["t.txt.hwz-1-before", "t.txt.hwz-3-after"]),
                             (["-n", "-C", "1", "ka"], ["t.txt.hwz-1-before", "t.txt.hwz-3-after"]),
                             (["--lines", "ka"], [])):
            out, cpu, peak = self.measure(*args, path)
            with self.subTest(args=args):
                self.assertLess(cpu, seconds)
                self.assertLess(peak, megabytes)
                long = [l for l in out if ELLIPSIS in l]
                self.assertEqual(len(long), 1)
                self.assertEqual(out, around[:1] + long + around[1:])
                shown = long[0].split(":")[-1].strip(ELLIPSIS)
                self.assertEqual(len(shown), SHOWN)
                self.assertIn(shown, line)
        count = run("-c", "-e", "2", "ka", path)
        self.assertGreater(int(count.split(":")[-1]), 5000)


def main():
    global MORAVINE, SANITIZED
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    parser.add_argument("--build-type", default="")
    args, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(args.moravine)
    SANITIZED = args.build_type == "Sanitize"
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
