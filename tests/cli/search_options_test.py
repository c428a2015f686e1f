#!/usr/bin/env python3
"""The search command's options, run through the real program and checked
against the test's own reading of the original texts: its tokenizer (runs
of ASCII letters and digits are words) gives the hits, their lines and
their offsets.

Usage: search_options_test.py --moravine PATH [unittest arguments]
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
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

MORAVINE = None
WORDS = ("whale Whale WHALE ship sea captain harpoon boat deck mast sail wind the white "
         "Ahab ocean wave rope anchor crew 42 x").split()
SEPARATORS = [" "] * 12 + [", ", ". ", "  ", "\t", " -- ", "\n", "\n", "\n\n", "\r\n", "'"]


def make_text(seed, n_tokens, long_line=False):
    rnd = random.Random(seed)
    parts = []
    for i in range(n_tokens):
        parts.append(rnd.choice(WORDS))
        parts.append(rnd.choice(SEPARATORS))
        if i % 97 == 0:
            parts.append(rnd.choice(["the white whale ", "the white\nwhale. ", "the\r\nwhite  whale\n",
                                     "the white, whale ", "sea\tcaptain "]))
        if long_line and i == n_tokens // 2:
            parts.append(" ".join(rnd.choice(WORDS) for _ in range(400)) + " whale " +
                         " ".join(rnd.choice(WORDS) for _ in range(400)) + "\n")
    return "".join(parts) + "end\n"


def words(text):
    """(offset, word) of every word of the text."""
    return [(m.start(), m.group()) for m in re.finditer(r"[A-Za-z0-9]+", text)]


def word_hits(text, word, ignore_case=False):
    same = (lambda a: a.lower() == word.lower()) if ignore_case else (lambda a: a == word)
    return [o for o, w in words(text) if same(w)]


def phrase_hits(text, phrase):
    """Offsets of the phrase's words in a row, parted by blanks and line ends."""
    ws = phrase.split()
    tokens = words(text)
    found = []
    for i in range(len(tokens) - len(ws) + 1):
        if all(tokens[i + k][1] == ws[k] for k in range(len(ws))):
            gaps_ok = all(re.fullmatch(r"[ \t\r\n]+", text[tokens[i + k][0] + len(ws[k]):tokens[i + k + 1][0]])
                          for k in range(len(ws) - 1))
            if gaps_ok:
                found.append(tokens[i][0])
    return found


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def run(*args, check_status=True):
    r = subprocess.run([MORAVINE, "-q", "search", *args], capture_output=True, timeout=300)
    if check_status:
        assert r.returncode in (0, 1), (args, r.returncode, r.stderr)
    return r


class SearchOptions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="moravine-options-")
        cls.texts = {}
        layout = {"books/a.txt": (1, 3000, False), "books/b.txt": (2, 2000, True),
                  "books/deep/c.txt": (3, 2500, False), "books/deep/d.txt": (4, 10, False),
                  "books/e.txt": (5, 1500, False)}
        for name, (seed, n, long_line) in layout.items():
            path = os.path.join(cls.dir, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            text = make_text(seed, n, long_line)
            with open(path, "w", newline="") as f:
                f.write(text)
            cls.texts[name + ".hwz"] = text
        subprocess.run([MORAVINE, "-q", "compress", os.path.join(cls.dir, "books")], check=True)
        # One file with the words-and-separators model (-f: its .hwz exists).
        subprocess.run([MORAVINE, "-q", "compress", "-f", "--words", os.path.join(cls.dir, "books/e.txt")],
                       check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def search(self, *args):
        return run(*args, "books", check_status=True)

    def setUp(self):
        os.chdir(self.dir)

    def json_rows(self, *args):
        r = self.search("--format", "json", *args)
        return [json.loads(line) for line in r.stdout.decode().splitlines()]

    def by_file(self, rows):
        out = {}
        for row in rows:
            out.setdefault(row["path"], []).append(row)
        return out

    def test_hits_offsets_and_lines_match_the_texts(self):
        for args, find in ((["whale"], lambda t: word_hits(t, "whale")),
                           (["-i", "whale"], lambda t: word_hits(t, "whale", True)),
                           (["--ignore-case", "AHAB"], lambda t: word_hits(t, "AHAB", True)),
                           (["the white whale"], lambda t: phrase_hits(t, "the white whale")),
                           (["sea  captain"], lambda t: phrase_hits(t, "sea captain"))):
            rows = self.by_file(self.json_rows("-n", "-b", *args))
            for name, text in self.texts.items():
                expected = find(text)
                got = rows.get("books/" + name[len("books/"):], [])
                with self.subTest(args=args, file=name):
                    self.assertEqual([r["offset"] for r in got], expected)
                    self.assertEqual([r["line"] for r in got], [line_of(text, o) for o in expected])
            self.assertTrue(rows, args)

    def test_phrases_cross_line_ends(self):
        text = self.texts["books/a.txt.hwz"]
        across = [o for o in phrase_hits(text, "the white whale") if "\n" in text[o:o + 40].split("whale")[0]]
        rows = self.json_rows("-b", "the white whale")
        offsets = {r["offset"] for r in rows if r["path"] == "books/a.txt.hwz"}
        self.assertTrue(across)
        self.assertTrue(set(across) <= offsets)
        # With whole lines, every line that the hit touches is a hit line.
        out = run("-n", "--lines", "the white whale", "books/a.txt.hwz").stdout.decode().splitlines()
        hit_lines = {int(l.split(":")[1]) for l in out if l.startswith("books/a.txt.hwz:")}
        for o in across:
            end = o + len(text[o:].split("whale", 1)[0])
            self.assertTrue(set(range(line_of(text, o), line_of(text, end) + 1)) <= hit_lines)

    def test_count_list_and_max_count(self):
        expected = {name: len(word_hits(t, "whale", True)) for name, t in self.texts.items()}
        r = self.search("-c", "-i", "whale")
        self.assertEqual(r.stdout.decode(), "".join(f"{n}:{c}\n" for n, c in sorted(expected.items()) if c))
        r = self.search("-l", "captain")
        self.assertEqual(r.stdout.decode().split(), sorted(n for n, t in self.texts.items() if word_hits(t, "captain")))
        r = self.search("-c", "-m", "3", "whale")
        self.assertEqual(r.stdout.decode(),
                         "".join(f"{n}:{min(3, len(word_hits(t, 'whale')))}\n" for n, t in sorted(self.texts.items())
                                 if word_hits(t, "whale")))
        r = self.search("-l", "nosuchword")
        self.assertEqual((r.returncode, r.stdout), (1, b""))

    def test_whole_lines_like_grep(self):
        r = self.search("-n", "--lines", "-i", "ahab")
        out = r.stdout.decode().splitlines()
        expected = []
        for name, text in sorted(self.texts.items()):
            lines = text.split("\n")
            for n in sorted({line_of(text, o) for o in word_hits(text, "ahab", True)}):
                line = lines[n - 1].rstrip("\r").replace("\r", "\\r")
                if len(line) > 240:
                    continue
                expected.append(f"{name}:{n}:{line}")
        self.assertEqual([l for l in out if len(l.split(":", 2)[2]) <= 240 and "\u2026" not in l], expected)

    def test_long_line_is_shortened_around_the_hit(self):
        r = run("--lines", "whale", "books/b.txt.hwz")
        long = [l for l in r.stdout.decode().splitlines() if "\u2026" in l]
        self.assertTrue(long)
        for line in long:
            self.assertLess(len(line.encode()), 300)
            self.assertIn("whale", line)

    def test_context_lines(self):
        text = self.texts["books/e.txt.hwz"]
        lines = text.split("\n")
        hit_lines = sorted({line_of(text, o) for o in word_hits(text, "harpoon")})
        shown = set()
        for n in hit_lines:
            shown.update(range(max(1, n - 2), min(len(lines), n + 1) + 1))
        expected = []
        previous = None
        for n in sorted(shown):
            if previous is not None and n > previous + 1:
                expected.append("--")
            sep = ":" if n in hit_lines else "-"
            line = lines[n - 1].rstrip("\r")
            if sep == "-" and len(line) > 240:
                line = line[:240] + "\u2026"
            expected.append(f"books/e.txt.hwz{sep}{n}{sep}{line}")
            previous = n
        r = run("-n", "-B", "2", "-A", "1", "harpoon", "books/e.txt.hwz")
        self.assertEqual(r.stdout.decode().splitlines(), expected)
        self.assertEqual(run("-n", "-C", "1", "harpoon", "books/e.txt.hwz").stdout,
                         run("-n", "-A", "1", "-B", "1", "harpoon", "books/e.txt.hwz").stdout)

    def test_output_is_sorted_by_path_whatever_the_jobs(self):
        outputs = []
        for jobs in ("1", "2", "4"):
            r = subprocess.run([MORAVINE, "-q", "-j", jobs, "search", "-n", "whale", "books"], capture_output=True)
            outputs.append(r.stdout)
        self.assertEqual(outputs[0], outputs[1])
        self.assertEqual(outputs[0], outputs[2])
        paths = [l.split(":")[0] for l in outputs[0].decode().splitlines()]
        self.assertEqual(paths, sorted(paths))
        self.assertTrue(all(p.startswith("books/") for p in paths))

    def test_tsv_carries_every_field(self):
        r = self.search("--format", "tsv", "-n", "-b", "--context-words", "1", "--lines", "captain")
        for line in r.stdout.decode().splitlines()[:50]:
            path, position, n, offset, left, word, right, text = line.split("\t")
            self.assertEqual(word, "captain")
            self.assertTrue(int(position) >= 0 and int(n) >= 1)
            self.assertEqual(self.texts[path][int(offset):int(offset) + 7], "captain")
            self.assertLessEqual(len(words(left)), 1)
            self.assertIn("captain", text)

    def test_standard_input_is_searched_as_a_file(self):
        with open("books/a.txt.hwz", "rb") as f:
            data = f.read()
        piped = subprocess.run([MORAVINE, "-q", "search", "-n", "whale", "-"], input=data, capture_output=True)
        named = run("-n", "whale", "books/a.txt.hwz")
        self.assertEqual(piped.returncode, 0)
        self.assertEqual(piped.stdout.decode().replace("(standard input):", "books/a.txt.hwz:"),
                         named.stdout.decode())
        # Mixed with files: standard input first; counts as for files.
        mixed = subprocess.run([MORAVINE, "-q", "search", "-c", "whale", "books/e.txt.hwz", "-"], input=data,
                               capture_output=True)
        self.assertEqual(mixed.stdout.decode().splitlines()[0].split(":")[0], "(standard input)")
        for bad, why in ((b"", "empty"), (b"garbage", "not a valid compressed file")):
            r = subprocess.run([MORAVINE, "-q", "search", "whale", "-"], input=bad, capture_output=True)
            self.assertEqual(r.returncode, 2)
            self.assertIn("moravine: standard input: ", r.stderr.decode())
            self.assertIn(why, r.stderr.decode())

    def test_messages_name_files_as_given(self):
        os.makedirs("damaged/deep", exist_ok=True)
        with open("damaged/deep/x.txt.hwz", "wb") as f:
            f.write(b"\x07 not a compressed file")
        try:
            for given, shown in (("damaged", "damaged/deep/x.txt.hwz"), ("damaged/", "damaged/deep/x.txt.hwz"),
                                 ("./damaged/deep/x.txt.hwz", "./damaged/deep/x.txt.hwz")):
                r = run("whale", given, check_status=False)
                self.assertEqual(r.returncode, 2)
                self.assertIn("moravine: " + shown + ": Search failed", r.stderr.decode())
                self.assertNotIn(self.dir, r.stderr.decode())
        finally:
            shutil.rmtree("damaged")


def main():
    global MORAVINE
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    args, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(args.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
