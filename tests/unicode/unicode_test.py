#!/usr/bin/env python3
"""The Unicode models through the real program, against an independent
tokenizer and search written here with Python's unicodedata.

Usage: unicode_test.py --moravine PATH [unittest arguments]
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unicodedata
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import ci_unittest  # noqa: E402  (the shared main, in tests/)
import terminal  # noqa: E402

MORAVINE = None

# Scripts written without blanks between words: each letter is a word.
SINGLE = [(0x0E00, 0x0EFF), (0x1000, 0x109F), (0x1780, 0x17FF), (0x19E0, 0x19FF), (0x3005, 0x3007),
          (0x3021, 0x3029), (0x3038, 0x303B), (0x3040, 0x30FF), (0x31F0, 0x31FF), (0x3400, 0x4DBF),
          (0x4E00, 0x9FFF), (0xA9E0, 0xA9FF), (0xAA60, 0xAA7F), (0xF900, 0xFAFF), (0xFF66, 0xFF9F),
          (0x1B000, 0x1B16F), (0x20000, 0x323AF)]

# Words of several scripts; their letters are old enough to be in every
# Unicode version that Python and the program may know.
WORDS = ("Straße STRASSE strasse über Über Brücke café CAFÉ naïve Москва Москве МОСКВА москва σοφία ΣΟΦΙΑ "
         "Σοφία λέξη zażółć Łódź 東京 日本語 漢字 ひらがな カタカナ ภาษาไทย हिन्दी भारत القاهرة 서울 한국어 "
         "whale while whole 42½ x² Brontë don t e mail").split()
SEPARATORS = [" ", " ", " ", ", ", ". ", "\n", "; ", " — ", "’", "'", "-", "«", "»", "\t", "  ", "。", "、", "!\n"]


def char_class(c):
    """0 separator, 1 word, 2 single-code-point word."""
    if unicodedata.category(c)[0] not in "LMN":
        return 0
    cp = ord(c)
    return 2 if any(a <= cp <= b for a, b in SINGLE) else 1


def tokens(data):
    """The tokens of a text under the Unicode models, as bytes."""
    text = data.decode("utf-8", "surrogateescape")
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        cls = 0 if "\udc80" <= c <= "\udcff" else char_class(c)
        if c == "\n" or cls == 2:
            j = i + 1
        else:
            j = i + 1
            while j < len(text) and text[j] != "\n":
                d = text[j]
                k = 0 if "\udc80" <= d <= "\udcff" else char_class(d)
                if k != cls:
                    break
                j += 1
        out.append(text[i:j].encode("utf-8", "surrogateescape"))
        i = j
    return out


def is_word(token):
    text = token.decode("utf-8", "surrogateescape")
    return not ("\udc80" <= text[0] <= "\udcff") and char_class(text[0]) != 0


def fold(word):
    text = unicodedata.normalize("NFD", word.decode("utf-8", "surrogateescape").casefold())
    return "".join(c for c in text if not 0x300 <= ord(c) <= 0x36F)


def distance(a, b, limit):
    if abs(len(a) - len(b)) > limit:
        return limit + 1
    row = list(range(len(b) + 1))
    for i in range(1, len(a) + 1):
        prev, row[0] = row[0], i
        for j in range(1, len(b) + 1):
            cur = min(row[j] + 1, row[j - 1] + 1, prev + (a[i - 1] != b[j - 1]))
            prev, row[j] = row[j], cur
    return row[-1]


def dictionary(path):
    """The tokens of a compressed file's dictionary, from `info -v`."""
    listing = subprocess.run([MORAVINE, "info", "-v", path], capture_output=True, check=True).stdout
    found = []
    for line in listing.split(b"\n"):
        m = re.match(rb"^(.*):plain_cw = [0-9a-f]+ cwlen \d+ \(bits\)$", line)
        if m:
            raw = re.sub(rb"\[(-?\d+)\]", lambda x: bytes([int(x.group(1)) & 0xFF]), m.group(1))
            found.append(raw)
    return found


def make_text(seed, n_tokens, malformed=True):
    rnd = random.Random(seed)
    parts = []
    for _ in range(n_tokens):
        parts.append(rnd.choice(WORDS).encode())
        if malformed and rnd.random() < 0.02:
            parts.append(rnd.choice([b"\xc3", b"\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xc0\xaf"]))
        parts.append(rnd.choice(SEPARATORS).encode())
    return b"".join(parts)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-unicode-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def compressed(self, name, data, *options):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        subprocess.run([MORAVINE, "-q", "compress", "-f", *options, path], check=True)
        return path + ".hwz"


class Tokens(Case):
    def test_the_dictionary_holds_the_texts_tokens(self):
        for seed in range(3):
            data = make_text(seed, 3000)
            hwz = self.compressed("t%d.txt" % seed, data, "--unicode", "--words")
            self.assertEqual(sorted(dictionary(hwz)), sorted(set(tokens(data))))
            self.assertEqual(subprocess.run([MORAVINE, "cat", hwz], capture_output=True).stdout, data)
            spaceless = self.compressed("s%d.txt" % seed, data, "--unicode")
            self.assertEqual(subprocess.run([MORAVINE, "cat", spaceless], capture_output=True).stdout, data)


class Search(Case):
    def counts(self, hwz, *args):
        r = subprocess.run([MORAVINE, "-q", "search", "-c", *args, hwz], capture_output=True)
        self.assertIn(r.returncode, (0, 1), r.stderr)
        out = r.stdout.decode().strip()
        return int(out.rsplit(":", 1)[1]) if out else 0

    def test_hits_agree_with_an_independent_search(self):
        data = make_text(7, 6000, malformed=False)
        toks = tokens(data)
        files = [self.compressed("w.txt", data, "--unicode", "--words"), self.compressed("s.txt", data, "--unicode")]
        words = [t for t in toks if is_word(t)]
        for query in ("Straße", "Москве", "σοφία", "42½", "whale", "Brontë"):
            q = query.encode()
            exact = sum(1 for t in words if t == q)
            qpoints = q.decode()
            one_error = sum(1 for t in words if distance(qpoints, t.decode(), 1) <= 1)
            folded = sum(1 for t in words if fold(t) == fold(q))
            for hwz in files:
                self.assertEqual(self.counts(hwz, query), exact, (hwz, query))
                self.assertEqual(self.counts(hwz, "-e", "1", query), one_error, (hwz, query, "-e 1"))
                self.assertEqual(self.counts(hwz, "-i", query), folded, (hwz, query, "-i"))
        # Phrases, queries of single-code-point words and queries with
        # separators inside: the sequence of the query's tokens.
        for query in ("Москва москва", "don't", "e-mail", "日本語", "東京", "ひらがな", "ภาษาไทย", "über die"):
            expected = self.sequence_count(toks, tokens(query.encode()))
            for hwz in files:
                self.assertEqual(self.counts(hwz, query), expected, (hwz, query))

    @staticmethod
    def sequence_count(toks, wanted):
        """Places where the text's tokens are the query's, a run of blanks and
        line ends in the query standing for any such run."""
        def blanks(t):
            return t.strip(b" \t\r\n") == b""
        count = 0
        for i in range(len(toks) - len(wanted) + 1):
            count += all(toks[i + k] == w or (blanks(w) and blanks(toks[i + k])) for k, w in enumerate(wanted))
        return count

    def test_an_ascii_model_says_why_it_cannot_find_other_scripts(self):
        data = make_text(9, 2000, malformed=False)
        hwz = self.compressed("a.txt", data)
        r = subprocess.run([MORAVINE, "-q", "search", "Москва", hwz], capture_output=True)
        self.assertEqual(r.returncode, 2)
        self.assertIn("--unicode", r.stderr.decode())
        # Words with letters of both kinds are searched as the tokens they
        # make: "über" is a separator ending in "ü" and the word "ber".
        self.assertGreater(self.counts(hwz, "über"), 0)
        # The hint is advice, shown on a terminal only.
        source = os.path.join(self.dir, "a.txt")
        _, shown, _ = terminal.run_on_terminal([MORAVINE, "compress", "-c", "-f", source])
        self.assertIn("hint: ", shown.decode())
        self.assertIn("--unicode", shown.decode())
        r = subprocess.run([MORAVINE, "compress", "-c", "-f", source], capture_output=True)
        self.assertEqual(r.stderr, b"")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    known, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(known.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=2)
