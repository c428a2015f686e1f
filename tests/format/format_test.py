"""docs/FORMAT.md against the program: files that `moravine compress` makes,
under every parsing rule, read back byte for byte by tools/hwz_reader.py, a
reader written from that document alone; and damaged files refused by both.

Usage: format_test.py --moravine PATH [unittest arguments]
"""
import argparse
import os
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.dirname(HERE))
import ci_unittest  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
import hwz_reader  # noqa: E402  (the reader written from docs/FORMAT.md)

MORAVINE = None
SAMPLES = os.path.join(ROOT, "resources", "samples")
RULES = {0: ["--words"], 1: ["--spaceless"], 2: ["--unicode", "--words"], 3: ["--unicode", "--spaceless"]}


def sample(name):
    with open(os.path.join(SAMPLES, name), "rb") as f:
        return f.read()


def compress(text, *options):
    return subprocess.run([MORAVINE, "-q", "compress", "-c", *options, "-"], input=text,
                          stdout=subprocess.PIPE, check=True).stdout


def in_script(text, letters, mark=""):
    """The text with every ASCII letter written in another script: the i-th
    letter of the alphabet (either case) becomes letters[i], followed by
    `mark` after a vowel."""
    out = []
    for ch in text.decode("utf-8"):
        k = ord(ch.lower()) - ord("a")
        if ch.isascii() and 0 <= k < 26:
            out.append(letters[k] + (mark if ch.lower() in "aeiou" else ""))
        else:
            out.append(ch)
    return "".join(out).encode("utf-8")


# Othello's words in other scripts: words of several code points (Cyrillic,
# Greek, Hangul, Latin with combining marks), and of one code point each
# (Han, Hiragana, Thai), and a mixture with figures of other scripts,
# malformed UTF-8 and blanks next to single-code-point words.
SCRIPTS = {
    "cyrillic": "абцдефгхийклмнопярстуввхыз",
    "greek": "αβψδεφγηιξκλμνοπθρστυωςχυζ",
    "hangul": "가나다라마바사아자차카타파하거너더러머버서어저처커터",
    "han": "的一是不了人我在有他这中大来上国个到说们为子和地出时",
    "hiragana": "あいうえおかきくけこさしすせそたちつてとなにぬねのは",
    "thai": "กขคฆงจฉชซฌญฎฏฐฑฒณดตถทธนบปผ",
}


assert all(len(letters) == 26 for letters in SCRIPTS.values())


class FormatTest(ci_unittest.unittest.TestCase):
    def reads_back(self, text, label):
        for rule, options in RULES.items():
            with self.subTest(text=label, rule=rule):
                data = compress(text, *options)
                self.assertEqual(data[0], rule)
                self.assertEqual(len(data) > 4 and data[-4:] == struct.pack(">I", zlib.crc32(text)), rule >= 2)
                self.assertEqual(hwz_reader.read(data), text)

    def test_the_samples_under_every_rule(self):
        for name in sorted(os.listdir(SAMPLES)):
            if name.endswith(".txt"):
                self.reads_back(sample(name), name)

    def test_pointers_at_other_distances_and_none(self):
        text = sample("othello.txt")
        for options in (["--words", "--distance", "1"], ["--unicode", "--words", "--distance", "7"],
                        ["--words", "--distance", "0"], ["--unicode", "--words", "--distance", "100000"]):
            with self.subTest(options=options):
                data = compress(text, *options)
                pairs = struct.unpack_from(">i", data, 45)[0]
                self.assertEqual(pairs > 0, options[-1] != "0")
                self.assertEqual(hwz_reader.read(data), text)

    def test_other_scripts(self):
        base = sample("othello.txt")
        base = base[:base.index(b"\n", 60000) + 1]
        for script, letters in SCRIPTS.items():
            self.reads_back(in_script(base, letters), script)
        self.reads_back(in_script(base, "abcdefghijklmnopqrstuvwxyz", "\u0301"), "combining marks")
        mixed = b"".join(in_script(line, SCRIPTS[list(SCRIPTS)[k % len(SCRIPTS)]])
                         for k, line in enumerate(base.splitlines(keepends=True)))
        mixed = mixed.replace(b"0", "٠".encode()).replace(b"1", "¹".encode()).replace(b"e", b"\xe3\x81")
        mixed = mixed.replace(b"I ", b"\xff \xc0\xaf \xed\xa0\x80 ").replace(b"O", "Ⅷ".encode())
        self.reads_back(mixed, "mixed")

    def test_a_vocabulary_of_three_byte_codewords(self):
        # Every pair of neighbouring words of two books made one word.
        words = (sample("tom-sawyer.txt") + sample("climbing-plants.txt")).split()
        text = b" ".join(a + b for a, b in zip(words, words[1:])) + b"\n"
        for rule in (1, 3):
            data = compress(text, *RULES[rule])
            self.assertEqual(struct.unpack_from(">i", data, 9)[0], 3)  # max_cw_length
            self.assertEqual(hwz_reader.read(data), text)

    def test_small_texts(self):
        for text in (b"a", b"\n", b" ", b"a b", b"a  b", b" a b ", b"\xff", "東 京 a b".encode(), b"x\r\ny z\n"):
            self.reads_back(text, repr(text))

    def test_damage_is_refused_by_both(self):
        text = sample("gettysburg-and-sonnets.txt")
        good = compress(text, "--unicode", "--words")
        pairs = struct.unpack_from(">i", good, 45)[0]
        dictionary_at = 53 + 8 * pairs

        def changed(at, value=None, xor=None):
            data = bytearray(good)
            if value is not None:
                data[at:at + 4] = struct.pack(">i", value)
            else:
                data[at] ^= xor
            return bytes(data)

        word = good.index(b"\nAbraham\n", dictionary_at) + 3  # the "r" of a word token
        damaged = {  # what is damaged: the file, and the reader's reason
            "rule": (changed(0, xor=0x07), "unknown parsing rule"),
            "length": (good[:-1], "length does not add up"),
            "token count": (changed(5, struct.unpack_from(">i", good, 5)[0] + 1), "num tokens"),
            "code table": (changed(17, struct.unpack_from(">i", good, 17)[0] - 1), "damaged code table"),
            # A word token made of two kinds: under the Unicode rules only the
            # checksum finds it (their token check looks at line feeds alone).
            "token": (changed(word, xor=ord("r") ^ ord("!")), "CRC-32"),
            "text length": (changed(1, len(text) + 1), "bytes of text, the header states"),
            "pointer": (changed(49 + 8, struct.unpack_from(">i", good, 49 + 8)[0] + 1), "pointer 1"),
            "checksum": (changed(len(good) - 1, xor=1), "CRC-32"),
            "codeword": (changed(len(good) - 6, xor=0x80), ""),
        }
        for what, (data, reason) in damaged.items():
            with self.subTest(damage=what):
                with self.assertRaisesRegex(hwz_reader.Refused, reason):
                    hwz_reader.read(data)
                tested = subprocess.run([MORAVINE, "test", "-"], input=data, capture_output=True)
                self.assertEqual(tested.returncode, 1, tested.stderr)


def overfull_table():
    """A file of 201 tokens whose code table gives all of them 1-byte
    codewords: canonical by the offsets, but 73 ranks have no codeword of
    their own. Its body holds the 1-byte codewords of ranks 22 and of the
    line feed, both below 128."""
    words = b"".join(b"w%03d\n" % i for i in range(200))
    data = compress(words, "--words", "--distance", "0")
    n, d = struct.unpack_from(">ii", data, 5)[0], struct.unpack_from(">i", data, 49)[0]
    string = data[53:53 + d]
    tokens = string.split(b"\n")[:-1]  # no line feed token among the first 128 ranks...
    tokens = tokens[:tokens.index(b"")] + [b"\n"] + tokens[tokens.index(b"") + 2:]  # ...and it is one token
    fill = n - n % 127 + 129
    table = [1, 0, 0, 0, fill, 0, fill, 0, fill]
    text = tokens[22] + b"\n"
    assert tokens.index(b"\n") < 128
    body = bytes([0x80 | 22, 0x80 | tokens.index(b"\n")])
    return (bytes([0]) + struct.pack(">ii", len(text), n) + struct.pack(">9i", *table) + struct.pack(">ii", 0, d)
            + string + struct.pack(">i", len(body)) + body), tokens


class OverfullTableTest(ci_unittest.unittest.TestCase):
    def test_the_reader_refuses_more_codewords_than_a_length_holds(self):
        data, tokens = overfull_table()
        self.assertEqual(len(tokens), 201)
        with self.assertRaisesRegex(hwz_reader.Refused, "more codewords than a length holds"):
            hwz_reader.read(data)

    def test_the_program_refuses_more_codewords_than_a_length_holds(self):
        data, _ = overfull_table()
        tested = subprocess.run([MORAVINE, "test", "-"], input=data, capture_output=True)
        self.assertEqual(tested.returncode, 1, tested.stderr)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--moravine", required=True)
    args, rest = ap.parse_known_args()
    MORAVINE = args.moravine
    ci_unittest.main(argv=[sys.argv[0]] + rest)
