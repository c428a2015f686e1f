#!/usr/bin/env python3
"""The command line's conventions, through the real program: standard
streams, the overwrite rule, exit statuses, test, list, --files-from and
colours.

Usage: conventions_test.py --moravine PATH [unittest arguments]
"""

import argparse
import json
import os
import pty
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

MORAVINE = None
WORDS = "whale ship sea captain harpoon boat deck mast sail wind storm".split()


def text(lines=200, seed=1):
    rnd = random.Random(seed)
    return "".join(" ".join(rnd.choice(WORDS) for _ in range(9)) + "\n" for _ in range(lines)).encode()


def run(*args, stdin=None, env=None, cwd=None):
    return subprocess.run([MORAVINE, *args], input=stdin, capture_output=True, env=env, cwd=cwd, timeout=60)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def on_terminal(*args, env=None):
    """Runs moravine with standard output on a pseudo-terminal; gives its status and output."""
    leader, follower = pty.openpty()
    proc = subprocess.Popen([MORAVINE, *args], stdout=follower, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, env=env)
    os.close(follower)
    out = b""
    while True:
        try:
            chunk = os.read(leader, 65536)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    os.close(leader)
    return proc.wait(timeout=60), out


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-cli-")
        self.text = text()
        self.a = self.path("a.txt")
        write(self.a, self.text)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def compress(self, *paths, extra=()):
        r = run("-q", "compress", *extra, *paths)
        self.assertEqual(r.returncode, 0, r.stderr)


class Streams(Case):
    def test_standard_input_round_trip_under_both_models(self):
        for model in ("--spaceless", "--words"):
            packed = run("compress", model, "-", stdin=self.text)
            self.assertEqual(packed.returncode, 0, packed.stderr)
            self.assertEqual(packed.stdout[0], 1 if model == "--spaceless" else 0)
            back = run("decompress", "-", stdin=packed.stdout)
            self.assertEqual((back.returncode, back.stdout), (0, self.text))
        self.assertEqual(os.listdir(self.dir), ["a.txt"])

    def test_stdout_keeps_the_input_and_writes_no_file(self):
        packed = run("compress", "-c", self.a)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertEqual(os.listdir(self.dir), ["a.txt"])
        write(self.path("b.hwz"), packed.stdout)
        back = run("decompress", "--stdout", self.path("b.hwz"))
        self.assertEqual(back.stdout, self.text)
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt", "b.hwz"])

    def test_stdout_streams_a_long_text_and_stops_at_damage(self):
        # A text of several MB leaves in many pieces; a body damaged in the
        # middle gives out what came before, then a failure and status 1.
        long_text = text(lines=60000, seed=3)
        write(self.a, long_text)
        packed = run("compress", "-c", self.a).stdout
        write(self.path("b.hwz"), packed)
        back = run("decompress", "-c", self.path("b.hwz"))
        self.assertEqual((back.returncode, back.stdout), (0, long_text))
        middle = len(packed) // 2
        write(self.path("b.hwz"), packed[:middle] + bytes(16) + packed[middle + 16:])
        bad = run("decompress", "-c", self.path("b.hwz"))
        self.assertEqual(bad.returncode, 1)
        self.assertIn(b"b.hwz: not a valid compressed file", bad.stderr)
        self.assertTrue(0 < len(bad.stdout) < len(long_text))
        self.assertEqual(bad.stdout, long_text[:len(bad.stdout)])

    def test_cat_concatenates_and_goes_on_after_a_bad_file(self):
        self.compress(self.a)
        write(self.path("bad.hwz"), b"\x01 not a container")
        r = run("cat", self.path("a.txt.hwz"), self.path("bad.hwz"), self.path("a.txt.hwz"))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, self.text + self.text)
        self.assertIn(b"bad.hwz", r.stderr)

    def test_refusals(self):
        # Several inputs cannot share one compressed stream; empty input has no text.
        self.assertEqual(run("compress", "-c", self.a, self.a).returncode, 2)
        empty = run("compress", "-", stdin=b"")
        self.assertEqual(empty.returncode, 1)
        self.assertIn(b"standard input", empty.stderr)
        self.assertEqual(run("search", "whale", "-", stdin=b"").returncode, 2)
        status, out = on_terminal("compress", "-c", self.a)
        self.assertEqual((status, out), (1, b""))
        self.assertEqual(on_terminal("compress", "-c", "-f", self.a)[0], 0)


class Overwrite(Case):
    def test_single_files_are_not_replaced_without_force(self):
        write(self.path("a.txt.hwz"), b"old")
        r = run("-q", "compress", self.a)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"a.txt.hwz already exists", r.stderr)
        self.assertIn(b"a.txt;", r.stderr)
        self.assertEqual(read(self.path("a.txt.hwz")), b"old")
        self.assertEqual(run("-q", "compress", "-f", self.a).returncode, 0)
        packed = read(self.path("a.txt.hwz"))
        self.assertNotEqual(packed, b"old")

        write(self.a, b"edited")
        for name in ("a.txt.hwz", "a.txt"):  # either name of the pair
            r = run("-q", "decompress", self.path(name))
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"a.txt already exists", r.stderr)
            self.assertEqual(read(self.a), b"edited")
        self.assertEqual(run("-q", "decompress", "--force", self.path("a.txt.hwz")).returncode, 0)
        self.assertEqual(read(self.a), self.text)

    def test_folder_walks_skip_existing_outputs_job_by_job(self):
        os.mkdir(self.path("d"))
        write(self.path("d", "old.txt"), self.text)
        write(self.path("d", "old.txt.hwz"), b"stale")
        write(self.path("d", "new.txt"), text(seed=2))
        r = run("-q", "compress", self.path("d"))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.count(b"already exists"), 1)
        self.assertEqual(read(self.path("d", "old.txt.hwz")), b"stale")
        self.assertTrue(os.path.exists(self.path("d", "new.txt.hwz")))
        self.assertEqual(run("-q", "compress", "-f", self.path("d")).returncode, 0)
        self.assertNotEqual(read(self.path("d", "old.txt.hwz")), b"stale")


class ExitStatus(Case):
    def test_global_options_before_and_after_the_command(self):
        log = self.path("log")
        r = run("compress", self.a, "-q", "-j", "1", "--log", log)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertIn(b"Compressing", read(log))
        r = run("-q", "search", "whale", self.path("a.txt.hwz"), "--color", "never")
        self.assertEqual(r.returncode, 0)
        self.assertNotIn(b"\033[", r.stdout)

    def test_statuses(self):
        self.compress(self.a)
        hwz = self.path("a.txt.hwz")
        self.assertEqual(run("-q", "search", "whale", hwz).returncode, 0)
        self.assertEqual(run("-q", "search", "zebra", hwz).returncode, 1)
        self.assertEqual(run("-q", "search", "whale", self.path("missing.hwz")).returncode, 2)
        self.assertEqual(run("-q", "compress", self.path("missing")).returncode, 1)
        self.assertEqual(run("compress", "--bogus", self.a).returncode, 2)
        self.assertEqual(run("--color=sometimes", "cat", hwz).returncode, 2)
        self.assertEqual(run("list").returncode, 2)


class TestAndList(Case):
    def test_test_finds_damage_and_writes_nothing(self):
        self.compress(self.a)
        good = read(self.path("a.txt.hwz"))
        write(self.path("cut.hwz"), good[:-3])
        # The header states a text one byte longer than the body decodes to.
        length = int.from_bytes(good[1:5], "big")
        write(self.path("long.hwz"), good[:1] + (length + 1).to_bytes(4, "big") + good[5:])
        write(self.path("junk.hwz"), b"\x07junk")
        before = sorted(os.listdir(self.dir))
        r = run("test", self.path("a.txt.hwz"))
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        r = run("test", *[self.path(n) for n in ("cut.hwz", "a.txt.hwz", "long.hwz", "junk.hwz")])
        self.assertEqual(r.returncode, 1)
        for name in (b"cut.hwz", b"long.hwz", b"junk.hwz"):
            self.assertIn(name, r.stderr)
        self.assertNotIn(b"a.txt.hwz", r.stderr)
        self.assertEqual(run("test", "-", stdin=good).returncode, 0)
        self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_list_reports_the_headers(self):
        b = self.path("b.txt")
        write(b, text(seed=3))
        self.compress(self.a)
        self.compress(b, extra=("--words",))
        names = [self.path("a.txt.hwz"), self.path("b.txt.hwz")]
        r = run("list", "--format", "json", *names)
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertEqual([row["model"] for row in rows], ["spaceless", "words"])
        for row, name, original in zip(rows, names, (self.a, b)):
            self.assertEqual(row["path"], name)
            self.assertEqual(row["compressed"], os.path.getsize(name))
            self.assertEqual(row["text"], os.path.getsize(original))
            self.assertAlmostEqual(row["ratio"], row["text"] / row["compressed"], places=3)
            self.assertGreaterEqual(row["tokens"], len(WORDS))
        table = run("list", *names, self.path("a.txt"))
        self.assertEqual(table.returncode, 1)
        lines = table.stdout.decode().splitlines()
        self.assertEqual(len(lines), 4)  # heading, two files, total
        self.assertIn("spaceless", lines[1])
        self.assertIn("2 files", lines[3])


class FilesFrom(Case):
    def test_lists_by_line_by_nul_and_from_standard_input(self):
        odd = self.path("line\nbreak.txt")
        write(odd, text(seed=4))
        write(self.path("list"), (self.a + "\n").encode())
        self.assertEqual(run("-q", "compress", "--files-from", self.path("list")).returncode, 0)
        r = run("-q", "compress", "--files-from", "-", "--null", stdin=odd.encode() + b"\0")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.exists(odd + ".hwz"))
        names = (self.a + ".hwz\0" + odd + ".hwz\0").encode()
        r = run("list", "--format=json", "--null", "--files-from", "-", stdin=names)
        self.assertEqual(len(r.stdout.splitlines()), 2)
        r = run("-q", "search", "whale", "--files-from", "-", "--null", stdin=names, )
        self.assertEqual(r.returncode, 0)
        self.assertEqual(run("cat", "--null", self.a).returncode, 2)
        self.assertEqual(run("cat", "--files-from", "-", "-", stdin=b"").returncode, 2)


class Colour(Case):
    def test_auto_always_never_and_no_color(self):
        self.compress(self.a)
        hwz = self.path("a.txt.hwz")
        plain = dict(os.environ)
        plain.pop("NO_COLOR", None)
        no_colour = dict(plain, NO_COLOR="1")
        self.assertIn(b"\033[1;31m", on_terminal("-q", "search", "whale", hwz, env=plain)[1])
        self.assertNotIn(b"\033[", on_terminal("-q", "search", "whale", hwz, env=no_colour)[1])
        self.assertNotIn(b"\033[", on_terminal("-q", "--color=never", "search", "whale", hwz, env=plain)[1])
        self.assertIn(b"\033[1;31m", run("-q", "search", "--color=always", "whale", hwz, env=no_colour).stdout)
        self.assertNotIn(b"\033[", run("-q", "search", "whale", hwz, env=plain).stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    args, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(args.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=1)
