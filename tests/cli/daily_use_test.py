#!/usr/bin/env python3
"""The command line as a user of gzip, zstd and grep tries it: their option
habits and usage errors, --update on a grown folder, standard error that
stays empty in pipes, failure messages that name their file, the progress
of one large file and of a cancelled batch, and the ratio of info and list.

Usage: daily_use_test.py --moravine PATH [unittest arguments]
"""

import argparse
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
import terminal  # noqa: E402

MORAVINE = None
WORDS = "whale ship sea captain harpoon boat deck mast sail wind storm".split()


def text(lines=200, seed=1):
    rnd = random.Random(seed)
    return "".join(" ".join(rnd.choice(WORDS) for _ in range(9)) + "\n" for _ in range(lines)).encode()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-daily-")
        os.mkdir(self.path("books"))
        for i, name in enumerate(("a.txt", "b.txt", "c.txt")):
            write(self.path("books", name), text(seed=i))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def run_here(self, *args, stdin=None):
        """Runs moravine in the test's folder, so that paths are given relative."""
        return subprocess.run([MORAVINE, *args], input=stdin, capture_output=True, cwd=self.dir, timeout=120)

    def ok(self, *args):
        r = self.run_here(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def usage_error(self, *args):
        r = self.run_here(*args)
        self.assertEqual(r.returncode, 2, r.stderr)
        return r.stderr.decode()


class Habits(Case):
    def test_gzip_options_and_their_usage_errors(self):
        r = self.ok("compress", "-k", "-r", "-v", "books")
        lines = r.stderr.decode().splitlines()  # -v: one line a file, terminal or not
        self.assertEqual(len(lines), 3, lines)
        self.assertTrue(all(re.match(r"books/[abc]\.txt -> books/[abc]\.txt\.hwz: \d+ -> \d+ bytes", x)
                            for x in lines), lines)
        self.assertTrue(os.path.exists(self.path("books", "a.txt")))  # kept

        self.assertEqual(self.ok("-dc", "books/a.txt.hwz").stdout, text(seed=0))
        os.remove(self.path("books", "b.txt"))
        self.ok("-d", "books/b.txt.hwz")
        self.assertEqual(read(self.path("books", "b.txt")), text(seed=1))

        # An unknown option stops everything before any file is touched.
        write(self.path("new.txt"), text(seed=7))
        message = self.usage_error("compress", "-9", "new.txt")
        self.assertIn("unknown option '-9'", message)
        self.assertIn("unknown option '--best'", self.usage_error("compress", "--best", "new.txt"))
        self.assertFalse(os.path.exists(self.path("new.txt.hwz")))
        self.assertIn("search has no -v", self.usage_error("search", "-v", "whale", "books"))
        self.assertIn("decompress", self.usage_error("-d", "compress", "new.txt"))
        self.assertIn("unknown option '-T' before the command", self.usage_error("-T", "1", "compress", "new.txt"))

    def test_help_and_mistyped_commands(self):
        r = self.ok("help", "search")
        self.assertIn(b"moravine search", r.stdout)
        self.assertIn(b"--errors", r.stdout)
        self.assertIn(b"compress", self.ok("help").stdout)
        self.assertIn("did you mean 'search'?", self.usage_error("serch", "whale", "books"))
        self.assertIn("did you mean 'decompress'?", self.usage_error("decompres", "books"))
        self.assertIn("did you mean 'list'?", self.usage_error("help", "lst"))
        far = self.usage_error("frobnicate")
        self.assertIn("unknown command 'frobnicate'", far)
        self.assertIn("remove-original", far)  # the commands are listed instead


class Update(Case):
    def test_a_grown_folder_is_compressed_again_with_update(self):
        self.ok("compress", "books")
        a_before = os.stat(self.path("books", "a.txt.hwz"))
        write(self.path("books", "d.txt"), text(seed=3))
        # An edited file is newer than its compressed version.
        write(self.path("books", "b.txt"), text(seed=9))
        stamp = os.stat(self.path("books", "b.txt.hwz")).st_mtime
        os.utime(self.path("books", "b.txt"), (stamp + 10, stamp + 10))

        plain = self.run_here("compress", "books")
        self.assertEqual(plain.returncode, 1)
        self.assertEqual(plain.stderr.count(b"already exists"), 3)
        os.remove(self.path("books", "d.txt.hwz"))

        r = self.ok("compress", "--update", "books")
        self.assertEqual(r.stderr, b"")  # up-to-date files are left out silently
        self.assertEqual(os.stat(self.path("books", "a.txt.hwz")).st_ino, a_before.st_ino)
        self.assertEqual(self.ok("cat", "books/b.txt.hwz").stdout, text(seed=9))
        self.assertEqual(self.ok("cat", "books/d.txt.hwz").stdout, text(seed=3))
        self.assertEqual(self.ok("compress", "-u", "books/a.txt").stderr, b"")

        # Decompressing: an original older than its compressed file is
        # replaced, the others are left.
        write(self.path("books", "c.txt"), b"stale")
        os.utime(self.path("books", "c.txt"), (1, 1))
        self.ok("decompress", "--update", "books")
        self.assertEqual(read(self.path("books", "c.txt")), text(seed=2))
        self.assertEqual(read(self.path("books", "b.txt")), text(seed=9))
        self.usage_error("compress", "--update", "--force", "books")


class QuietPipes(Case):
    def test_standard_error_holds_failures_alone_unless_a_terminal(self):
        r = self.ok("compress", "books")
        self.assertEqual(r.stderr, b"")
        r = self.ok("search", "whale", "books")
        self.assertEqual(r.stderr, b"")
        self.assertGreater(len(r.stdout.splitlines()), 10)
        write(self.path("books", "junk.hwz"), b"\x01junk")
        r = self.run_here("search", "whale", "books")
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stderr.decode().splitlines()[0][:25], "moravine: books/junk.hwz:")
        self.assertEqual(len(r.stderr.splitlines()), 1)

        # On a terminal the batch is shown, and -q silences it there too.
        status, shown, out = terminal.run_on_terminal([MORAVINE, "search", "whale", "books"], cwd=self.dir)
        self.assertEqual(status, 2)
        self.assertIn(b"Searching", shown)
        self.assertIn(b"Finished", shown)
        self.assertIn(b"books/junk.hwz", shown)
        self.assertIn(b"whale", out)
        _, shown, _ = terminal.run_on_terminal([MORAVINE, "-q", "-d", "-f", "books"], cwd=self.dir)
        self.assertNotIn(b"Decompressing", shown)
        self.assertIn(b"books/junk.hwz", shown)  # failures are still told


class Messages(Case):
    def damaged(self):
        self.ok("compress", "books/a.txt")
        good = read(self.path("books", "a.txt.hwz"))
        write(self.path("books", "first.hwz"), b"x" + good[1:])
        body = bytearray(good)
        for i in range(len(body) - 200, len(body) - 100):
            body[i] = 0x7F  # codewords without the byte that begins one
        write(self.path("books", "body.hwz"), bytes(body))

    def test_every_failure_names_its_file_as_given(self):
        self.damaged()
        # info reads no body: only the first file is damaged for it.
        for command in (("decompress",), ("search", "whale"), ("test",), ("cat",), ("info",)):
            names = ("books/first.hwz",) + (("./books/body.hwz",) if command != ("info",) else ())
            r = self.run_here(*command, *names)
            self.assertNotEqual(r.returncode, 0, command)
            lines = r.stderr.decode().splitlines()
            for name in names:
                self.assertTrue(any(x.startswith(f"moravine: {name}: ") for x in lines), (command, lines))
            if command[0] in ("decompress", "search"):
                self.assertIn("First byte", r.stderr.decode())
            self.assertNotIn("See log file", r.stderr.decode())
        r = self.run_here("decompress", "books/body.hwz")
        self.assertIn("HToken_RankFromTaggedCw", r.stderr.decode())  # the library's reason

        # With a log, the message points to it.
        r = self.run_here("--log", "log", "decompress", "books/first.hwz")
        self.assertIn("books/first.hwz: Decompression failed. See log file for details", r.stderr.decode())
        self.assertIn(b"First byte", read(self.path("log")))

    def test_refusals_read_as_sentences_with_relative_paths(self):
        r = self.run_here("decompress", "books/a.txt")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.decode(), "moravine: books/a.txt is not a compressed file\n")
        # A file of 2 GiB (sparse: no disk space) is refused, named as given.
        with open(self.path("books", "huge.txt"), "wb") as f:
            f.truncate(1 << 31)
        r = self.run_here("compress", "books")
        self.assertEqual(r.returncode, 1)
        self.assertIn("books/huge.txt", r.stderr.decode())
        self.assertNotIn(self.dir, r.stderr.decode())


class Progress(Case):
    def setUp(self):
        super().setUp()
        # About 24 MB: counted in several parts.
        write(self.path("big.txt"), text(lines=2000, seed=5) * 240)

    def test_the_bar_moves_with_the_bytes_of_one_file(self):
        status, shown, _ = terminal.run_on_terminal([MORAVINE, "-j", "1", "compress", "-T", "1", "big.txt"],
                                                    cwd=self.dir)
        self.assertEqual(status, 0, shown)
        between = {int(p) for p in re.findall(rb"\] 0/1 (\d+) %", shown)} - {0, 100}
        self.assertGreaterEqual(len(between), 2, shown)
        self.assertIn(b"Finished", shown)

        os.remove(self.path("big.txt"))
        status, shown, _ = terminal.run_on_terminal([MORAVINE, "-j", "1", "decompress", "big.txt.hwz"], cwd=self.dir)
        self.assertEqual(status, 0, shown)
        between = {int(p) for p in re.findall(rb"\] 0/1 (\d+) %", shown)} - {0, 100}
        self.assertGreaterEqual(len(between), 2, shown)

    def test_ctrl_c_tells_how_many_files_were_done(self):
        os.mkdir(self.path("many"))
        for i in range(6):
            shutil.copy(self.path("big.txt"), self.path("many", f"{i}.txt"))
        status, shown, _ = terminal.run_on_terminal(
            [MORAVINE, "-j", "1", "compress", "-T", "1", "many"], cwd=self.dir,
            interrupt_after=lambda seen: b"Compressing many/" in seen)
        self.assertEqual(status, 130)
        told = re.search(rb"Cancelled after (\d) of [1-6] files?", shown)
        self.assertTrue(told, shown)
        done = sum(name.endswith(".hwz") for name in os.listdir(self.path("many")))
        self.assertLessEqual(int(told.group(1)), done)


class Ratio(Case):
    def test_info_and_list_state_the_same_ratio(self):
        self.ok("compress", "books/a.txt")
        listed = self.ok("list", "--format", "json", "books/a.txt.hwz").stdout.decode()
        info = self.ok("info", "books/a.txt.hwz").stdout.decode()
        ratio = re.search(r'"ratio":([\d.]+)', listed).group(1)
        self.assertIn(f"ratio = {ratio} (text size by compressed size)", info)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    args, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(args.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=1)
