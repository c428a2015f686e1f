#!/usr/bin/env python3
"""moravine.exe under Wine, beside the Linux moravine of the same sources:
the command line's conventions that hold on Windows (standard streams,
-c, -f, exit statuses, Ctrl+C, removals, names in any script), the same
.hwz bytes for the sample texts under every model, and the same search
rows.

Usage: windows_cli_test.py --exe MORAVINE.EXE --emulator "WINE COMMAND"
                           [--linux MORAVINE] --samples DIR [unittest arguments]
Without --linux the tests that compare with Linux are skipped (and fail
where CI is set).
"""

import argparse
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

EXE = None
EMULATOR = []
LINUX = None
SAMPLES = None

MODELS = {"spaceless": ["--spaceless"], "words": ["--words"], "words-no-pointers": ["--words", "--distance", "0"],
          "unicode": ["--unicode", "--spaceless"]}
# Searches whose rows must be the same on both systems: exact, with errors,
# ignoring case, patterns, and the other row formats.
SEARCHES = [["Othello"], ["tendril", "-e", "1"], ["sawyer", "-i"], ["moor", "-i", "-e", "1", "--format", "tsv"],
            ["love", "-n", "--lines"], ["the", "-c"], ["climb.*", "--format", "json"], ["Москва", "-i"],
            ["Iago", "-b", "-C", "1"], ["nothingatallhere"]]


def keep_wine_running():
    """Starts Wine's server for the prefix, kept for a minute after its last
    program ends, and its system programs (services.exe, ...), with no
    standard stream of ours: otherwise every run of moravine.exe would start
    them again, which costs seconds, and they would hold its output open."""
    if not EMULATOR or os.path.basename(EMULATOR[-1]) != "wine64":
        return
    # Debian's wineserver is a script that asks for no persistence (-p0)
    # before any option given; the program itself is wineserver64.
    server = next((os.path.join(os.path.dirname(EMULATOR[-1]), name) for name in ("wineserver64", "wineserver")
                   if os.path.exists(os.path.join(os.path.dirname(EMULATOR[-1]), name))), None)
    if server:
        subprocess.run([*EMULATOR[:-1], server, "-p60"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run([*EMULATOR, EXE, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)


def captured(command, stdin=None, cwd=None, timeout=120):
    """Runs the command with its output in files, not pipes: a program of
    Wine's that the command starts (its server, services.exe) inherits the
    streams and may outlive it, and a pipe would not end before it does."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        given = {"input": stdin} if stdin is not None else {"stdin": subprocess.DEVNULL}
        r = subprocess.run(command, **given, stdout=out, stderr=err, cwd=cwd, timeout=timeout)
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(command, r.returncode, out.read(), err.read())


def windows(*args, stdin=None, cwd=None, timeout=120):
    return captured([*EMULATOR, EXE, *args], stdin=stdin, cwd=cwd, timeout=timeout)


def linux(*args, stdin=None, cwd=None):
    return subprocess.run([LINUX, *args], input=stdin, capture_output=True, cwd=cwd, timeout=120)


def winpath(path):
    """The path of a file of this machine as Wine's programs see it: below Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def sample_names():
    return sorted(n for n in os.listdir(SAMPLES) if n.endswith(".txt"))


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-wine-")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def need_linux(self):
        if not LINUX:
            self.skipTest("no Linux moravine given (--linux)")

    def leftovers(self):
        return [n for n in os.listdir(self.dir) if n.startswith(".moravine-")]


class Conventions(Case):
    # Bytes that text mode would change: CR LF, a lone CR, Ctrl-Z, NUL.
    BYTES = b"line one\r\nline two\rthree \x1a four\x00five\n" * 50 + "Ελληνικά 東京\r\n".encode()

    def test_standard_streams_carry_bytes_as_they_are(self):
        self.need_linux()
        packed = windows("-q", "compress", "-", stdin=self.BYTES)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertEqual(packed.stdout, linux("-q", "compress", "-", stdin=self.BYTES).stdout)
        unpacked = windows("-q", "decompress", "-", stdin=packed.stdout)
        self.assertEqual((unpacked.returncode, unpacked.stdout), (0, self.BYTES))
        write(self.path("a.txt"), self.BYTES)
        c = windows("-q", "compress", "-c", "a.txt", cwd=self.dir)
        self.assertEqual((c.returncode, c.stdout), (0, packed.stdout))
        self.assertEqual(os.listdir(self.dir), ["a.txt"], "-c writes no file")
        write(self.path("a.txt.hwz"), packed.stdout)
        self.assertEqual(windows("-q", "cat", winpath(self.path("a.txt.hwz"))).stdout, self.BYTES)
        self.assertEqual(windows("-q", "decompress", "-c", "a.txt.hwz", cwd=self.dir).stdout, self.BYTES)

    def test_an_existing_output_is_replaced_only_with_f(self):
        self.need_linux()
        write(self.path("a.txt"), self.BYTES)
        write(self.path("a.txt.hwz"), b"an older archive")
        refused = windows("-q", "compress", "a.txt", cwd=self.dir)
        self.assertNotEqual(refused.returncode, 0)
        self.assertEqual(refused.returncode, linux("-q", "compress", "a.txt", cwd=self.dir).returncode)
        self.assertEqual(read(self.path("a.txt.hwz")), b"an older archive")
        forced = windows("-q", "compress", "-f", "a.txt", cwd=self.dir)
        self.assertEqual(forced.returncode, 0, forced.stderr)
        self.assertEqual(read(self.path("a.txt.hwz")), linux("-q", "compress", "-c", "a.txt", cwd=self.dir).stdout)
        self.assertEqual(self.leftovers(), [])

    def test_exit_statuses_are_those_of_linux(self):
        self.need_linux()
        write(self.path("a.txt"), self.BYTES)
        write(self.path("bad.hwz"), b"\x01 not an archive at all")
        write(self.path("empty.txt"), b"")
        self.assertEqual(linux("-q", "compress", "a.txt", cwd=self.dir).returncode, 0)
        commands = [["--version"], ["compress", "missing.txt"], ["compress", "empty.txt"], ["decompress", "bad.hwz"],
                    ["test", "a.txt.hwz"], ["test", "bad.hwz"], ["search", "line", "a.txt.hwz"],
                    ["search", "absent", "a.txt.hwz"], ["search", "line", "bad.hwz"], ["--no-such-option"],
                    ["search"], ["search", "-e", "999", "x", "a.txt.hwz"], ["frobnicate"]]
        for command in commands:
            with self.subTest(command=command):
                expected = linux("-q", *command, cwd=self.dir)
                got = windows("-q", *command, cwd=self.dir)
                self.assertEqual(got.returncode, expected.returncode, got.stderr)
                self.assertEqual(bool(got.stderr), bool(expected.stderr), got.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ["a.txt", "a.txt.hwz", "bad.hwz", "empty.txt"])

    def test_names_in_any_script(self):
        self.need_linux()
        name = "Ελληνικά 東京 😀 é.txt"
        write(self.path(name), self.BYTES)
        r = windows("-q", "compress", "--unicode", name, cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(read(self.path(name + ".hwz")),
                         linux("-q", "compress", "--unicode", "-c", name, cwd=self.dir).stdout)
        rows = windows("search", "-i", "ελληνικά", name + ".hwz", cwd=self.dir)
        self.assertEqual(rows.returncode, 0, rows.stderr)
        self.assertIn(name.encode(), rows.stdout)
        self.assertEqual(rows.stdout, linux("search", "-i", "ελληνικά", name + ".hwz", cwd=self.dir).stdout)
        # By a full path, through a folder, and back.
        os.remove(self.path(name))
        r = windows("-q", "decompress", winpath(self.dir))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(read(self.path(name)), self.BYTES)

    def test_removals_keep_every_file_without_a_faithful_other_version(self):
        self.need_linux()
        for n in ("good", "damaged", "other"):
            write(self.path(n + ".txt"), self.BYTES)
        windows("-q", "compress", "good.txt", "damaged.txt", "other.txt", cwd=self.dir)
        write(self.path("damaged.txt.hwz"), read(self.path("damaged.txt.hwz"))[:-9])
        write(self.path("other.txt"), self.BYTES + b"!")
        r = windows("-q", "remove-original", winpath(self.dir))
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(sorted(os.listdir(self.dir)),
                         ["damaged.txt", "damaged.txt.hwz", "good.txt.hwz", "other.txt", "other.txt.hwz"])
        self.assertIn(b"damaged.txt", r.stderr)
        self.assertIn(b"other.txt", r.stderr)
        windows("-q", "decompress", "good.txt.hwz", cwd=self.dir)
        r = windows("-q", "remove-compressed", "good.txt.hwz", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.exists(self.path("good.txt.hwz")))
        self.assertEqual(read(self.path("good.txt")), self.BYTES)

    def test_ctrl_c_cancels_and_leaves_no_temporary_file(self):
        # Wine turns SIGINT into the console's Ctrl+C event. The output is
        # interrupted while its hidden temporary file is being written: the
        # job either ends within the grace and puts the whole text in place,
        # or the program ends with its temporary file removed and the old
        # text kept; never anything between.
        text = b"".join(read(os.path.join(SAMPLES, n)) for n in sample_names()) * 60
        write(self.path("big.txt"), text)
        packed = windows("-q", "compress", "-c", "-T1", "big.txt", cwd=self.dir)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        write(self.path("big.txt.hwz"), packed.stdout)
        write(self.path("big.txt"), b"the old text")
        for attempt in range(5):
            err = tempfile.TemporaryFile()
            proc = subprocess.Popen([*EMULATOR, EXE, "-q", "decompress", "-f", "big.txt.hwz"], cwd=self.dir,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
            deadline = time.monotonic() + 60
            while not self.leftovers() and proc.poll() is None and time.monotonic() < deadline:
                time.sleep(0.005)
            if proc.poll() is None:
                proc.send_signal(signal.SIGINT)
            proc.wait(timeout=60)
            err.seek(0)
            err = err.read()
            if proc.returncode == 0:
                write(self.path("big.txt"), b"the old text")  # it finished first: again
                continue
            self.assertEqual(proc.returncode, 130, err)
            self.assertEqual(self.leftovers(), [])
            self.assertIn(read(self.path("big.txt")), (b"the old text", text))
            return
        self.fail("the decompression always ended before Ctrl+C")

    def test_searches_of_several_files_one_after_another_always_end(self):
        # Each named file is a batch of its own, waited for before the next:
        # a batch that missed its end would hang the command. A process that
        # keeps a core busy meanwhile makes the threads' timings vary.
        names = sample_names()
        for n in names:
            shutil.copy(os.path.join(SAMPLES, n), self.dir)
        self.assertEqual(windows("-q", "compress", *names, cwd=self.dir).returncode, 0)
        archives = [n + ".hwz" for n in names]
        first = windows("--color", "never", "search", "love", "-n", "--lines", *archives, cwd=self.dir)
        self.assertEqual(first.returncode, 0, first.stderr)
        busy = subprocess.Popen(["sh", "-c", "while :; do :; done"])
        try:
            for _ in range(30):
                again = windows("--color", "never", "search", "love", "-n", "--lines", *archives, cwd=self.dir,
                                timeout=30)
                self.assertEqual((again.returncode, again.stdout), (0, first.stdout), again.stderr)
        finally:
            busy.kill()
            busy.wait()


class SameAsLinux(Case):
    def setUp(self):
        super().setUp()
        self.need_linux()

    def test_every_sample_under_every_model_gives_the_bytes_of_linux_and_comes_back(self):
        names = sample_names()
        self.assertGreaterEqual(len(names), 5)
        for model, options in MODELS.items():
            with self.subTest(model=model):
                win_dir, lin_dir = self.path("win-" + model), self.path("lin-" + model)
                for d in (win_dir, lin_dir):
                    os.mkdir(d)
                    for n in names:
                        shutil.copy(os.path.join(SAMPLES, n), d)
                r = windows("-q", "compress", *options, "-T", "2", *names, cwd=win_dir)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(linux("-q", "compress", *options, *names, cwd=lin_dir).returncode, 0)
                for n in names:
                    self.assertEqual(read(os.path.join(win_dir, n + ".hwz")), read(os.path.join(lin_dir, n + ".hwz")),
                                     n)
                    os.remove(os.path.join(win_dir, n))
                r = windows("-q", "decompress", winpath(win_dir))
                self.assertEqual(r.returncode, 0, r.stderr)
                for n in names:
                    self.assertEqual(read(os.path.join(win_dir, n)), read(os.path.join(SAMPLES, n)), n)

    def test_searches_give_the_rows_of_linux(self):
        names = sample_names()
        for n in names:
            shutil.copy(os.path.join(SAMPLES, n), self.dir)
        self.assertEqual(linux("-q", "compress", "--unicode", *names, cwd=self.dir).returncode, 0)
        archives = [n + ".hwz" for n in names]
        rows = 0
        for search in SEARCHES:
            with self.subTest(search=search):
                expected = linux("--color", "never", "search", *search, *archives, cwd=self.dir)
                got = windows("--color", "never", "search", *search, *archives, cwd=self.dir)
                self.assertEqual((got.returncode, got.stdout), (expected.returncode, expected.stdout), got.stderr)
                rows += expected.stdout.count(b"\n")
        self.assertGreater(rows, 100, "the searches found too little to compare")


def main():
    global EXE, EMULATOR, LINUX, SAMPLES
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--emulator", default="")
    parser.add_argument("--linux", default="")
    parser.add_argument("--samples", required=True)
    args, rest = parser.parse_known_args()
    EXE, EMULATOR, SAMPLES = os.path.abspath(args.exe), shlex.split(args.emulator), os.path.abspath(args.samples)
    LINUX = os.path.abspath(args.linux) if args.linux else None
    keep_wine_running()
    ci_unittest.main(argv=[sys.argv[0], *rest])


if __name__ == "__main__":
    main()
