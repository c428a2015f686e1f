#!/usr/bin/env python3
"""Damaged files, standard input and stop signals, through the real program.

A damaged compressed file must never decode as a good one, whichever command
reads it and however it arrives; standard input is checked as it arrives
and never waited on past a stop signal; a long search ends soon after one.

Usage: integrity_test.py --moravine PATH [unittest arguments]
"""

import argparse
import os
import random
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

MORAVINE = None
WORDS = ("whale ship sea captain harpoon boat deck mast sail wind storm water island sailor ocean wave rope "
         "anchor crew voyage").split()


def text(n_lines, seed=1):
    rnd = random.Random(seed)
    lines = []
    for _ in range(n_lines):
        words = [rnd.choice(WORDS) + (str(rnd.randrange(400)) if rnd.random() < 0.3 else "") for _ in range(10)]
        lines.append(" ".join(words) + rnd.choice([".", ",", "", "!"]) + "\n")
    return "".join(lines).encode()


def run(*args, **kw):
    kw.setdefault("timeout", 60)
    return subprocess.run([MORAVINE, *args], capture_output=True, **kw)


def header(data):
    """The fields of a compressed file: pointer count, where the dictionary
    and the body begin."""
    pairs = struct.unpack(">I", data[45:49])[0]
    dictionary_at = 49 + 8 * pairs + 4
    dictionary_length = struct.unpack(">I", data[dictionary_at - 4:dictionary_at])[0]
    return pairs, dictionary_at, dictionary_at + dictionary_length + 4


def with_field(data, at, value):
    return data[:at] + struct.pack(">I", value & 0xFFFFFFFF) + data[at + 4:]


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="moravine-integrity-")
        self.cwd = os.getcwd()
        os.chdir(self.dir)

    def tearDown(self):
        os.chdir(self.cwd)
        leftovers = [f for f in os.listdir(self.dir) if f.startswith(".moravine-")]
        shutil.rmtree(self.dir)
        self.assertEqual(leftovers, [])

    def compress(self, name, data, *options):
        with open(name, "wb") as f:
            f.write(data)
        r = run("-q", "compress", *options, name)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(name + ".hwz", "rb") as f:
            return f.read()


class DamagedFiles(Case):
    def decodes(self, damaged, original):
        """Every way of decoding a damaged file: the exit statuses, and
        whether a status 0 came with the original text."""
        with open("d.txt.hwz", "wb") as f:
            f.write(damaged)
        with open("d.txt", "wb") as f:
            f.write(b"the good copy\n")
        before = os.stat("d.txt")
        results = {}
        for name, args, stdin in (("cat", ["cat", "d.txt.hwz"], None), ("cat -", ["cat", "-"], damaged),
                                  ("-c", ["decompress", "-c", "d.txt.hwz"], None),
                                  ("-f", ["decompress", "-f", "d.txt.hwz"], None)):
            r = run(*args, input=stdin)
            if name == "-f":
                with open("d.txt", "rb") as f:
                    out = f.read()
                if r.returncode != 0:  # the good copy is left as it was
                    after = os.stat("d.txt")
                    self.assertEqual((out, after.st_ino, after.st_mtime_ns),
                                     (b"the good copy\n", before.st_ino, before.st_mtime_ns))
            else:
                out = r.stdout
            if r.returncode != 0:
                self.assertEqual(r.returncode, 1, (name, r.stderr))
                self.assertRegex(r.stderr.decode(), r"moravine: (d\.txt\.hwz|standard input): ")
            results[name] = (r.returncode, out == original, len(out) == len(original))
        self.assertEqual(run("test", "d.txt.hwz").returncode, results["cat"][0], results)
        return results

    def test_a_stated_length_that_differs_from_the_text_fails_everywhere(self):
        original = text(300)
        good = self.compress("t.txt", original)
        for stated in (len(original) - 1, len(original) + 1, 0, 0x7FFFFFFF, 0x80000000):
            results = self.decodes(with_field(good, 1, stated), original)
            self.assertEqual({code for code, _, _ in results.values()}, {1}, (stated, results))

    def test_flipped_bits_in_the_body_are_found_or_leave_the_length(self):
        # Without a checksum a codeword can turn into another of the same
        # text length unseen; every other flip must fail, on every path
        # alike, and most flips are of that kind.
        original = text(400)
        good = self.compress("t.txt", original)
        body_at = header(good)[2]
        rnd = random.Random(5)
        found = 0
        flips = 40
        for _ in range(flips):
            at = rnd.randrange(body_at, len(good))
            damaged = good[:at] + bytes([good[at] ^ (1 << rnd.randrange(8))]) + good[at + 1:]
            results = self.decodes(damaged, original)
            self.assertEqual(len({code for code, _, _ in results.values()}), 1, results)
            code, _, same_length = results["cat"]
            if code == 0:
                self.assertTrue(same_length)
            found += code != 0
        self.assertGreater(found, flips * 6 // 10)

    def test_test_names_the_check_that_failed(self):
        original = text(300)
        words = self.compress("w.txt", original, "--words", "--distance", "64")
        pairs, dictionary_at, body_at = header(words)
        self.assertGreater(pairs, 3)
        cases = {
            "the body: ": with_field(words, 1, len(original) + 7),
            "the pointers: ": with_field(words, 49 + 8 * 2, struct.unpack(">I", words[49 + 16:53 + 16])[0] + 1),
            "the header or dictionary: ": with_field(words, 13, 0x12345),  # the code table
        }
        for check, damaged in cases.items():
            with open("x.hwz", "wb") as f:
                f.write(damaged)
            r = run("test", "x.hwz")
            self.assertEqual(r.returncode, 1)
            self.assertIn("moravine: x.hwz: damaged or not a compressed file: " + check, r.stderr.decode())
        self.assertEqual(run("test", "-v", "w.txt.hwz").stdout.decode(),
                         "w.txt.hwz: OK, %d bytes of text\n" % len(original))

    def test_a_search_that_meets_damage_shows_no_row_of_the_file(self):
        # The search reads the codewords around its hits, not the whole
        # body: damage there is found, and the file then shows no row.
        original = text(300)
        good = self.compress("t.txt", original)
        body_at = header(good)[2]
        rows = run("-q", "search", "--format", "tsv", "whale", "t.txt.hwz").stdout.decode().splitlines()
        self.assertGreater(len(rows), 10)
        hit = body_at + int(rows[len(rows) // 2].split("\t")[1])
        damaged = good[:hit - 6] + b"\x01" * 6 + good[hit:]
        with open("t.txt.hwz", "wb") as f:
            f.write(damaged)
        r = run("-q", "search", "whale", "t.txt.hwz")
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertEqual(r.stdout, b"")
        self.assertIn("t.txt.hwz", r.stderr.decode())


class StandardInput(Case):
    def test_random_bytes_are_refused_at_once(self):
        for args in (["cat", "-"], ["test", "-"], ["list", "-"], ["info", "-"], ["search", "whale", "-"]):
            with open("/dev/urandom", "rb") as noise:
                start = time.monotonic()
                r = subprocess.run([MORAVINE, "-q", *args], stdin=noise, capture_output=True, timeout=20)
            self.assertLess(time.monotonic() - start, 5, args)
            self.assertIn(r.returncode, (1, 2), args)
            self.assertIn("standard input", r.stderr.decode(), args)

    def test_cat_decodes_standard_input_as_it_arrives(self):
        original = text(20000)
        data = self.compress("t.txt", original)
        p = subprocess.Popen([MORAVINE, "cat", "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            half = len(data) // 2
            p.stdin.write(data[:half])
            p.stdin.flush()
            ready, _, _ = select.select([p.stdout], [], [], 10)
            self.assertTrue(ready, "no text before the input ended")
            first = os.read(p.stdout.fileno(), 1 << 16)
            self.assertTrue(original.startswith(first) and first)
            rest = []
            reader = threading.Thread(target=lambda: rest.append(p.stdout.read()))
            reader.start()
            p.stdin.write(data[half:])
            p.stdin.close()
            reader.join(timeout=20)
            rest = rest[0] if rest else b""
            self.assertEqual(p.wait(timeout=20), 0)
            self.assertEqual(first + rest, original)
        finally:
            p.kill()
            p.wait()
        # Cut short or followed by more bytes: the text so far, then a failure.
        for damaged in (data[:-3], data + b"x"):
            r = run("cat", "-", input=damaged)
            self.assertEqual(r.returncode, 1)
            self.assertIn("moravine: standard input: not a valid compressed file", r.stderr.decode())


class Stops(Case):
    def stop_waiting(self, args, sig):
        name = "idle%d" % len(os.listdir("."))
        os.mkfifo(name)
        writer = subprocess.Popen(["sh", "-c", "exec sleep 30 > " + name])
        try:
            with open(name, "rb") as fifo:
                p = subprocess.Popen([MORAVINE, "-q", *args], stdin=fifo, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
            time.sleep(0.5)
            start = time.monotonic()
            p.send_signal(sig)
            p.communicate(timeout=10)
            return p.returncode, time.monotonic() - start
        finally:
            writer.kill()
            writer.wait()

    def test_a_signal_ends_every_wait_on_an_idle_pipe(self):
        for args, sig in ((["cat", "-"], signal.SIGINT), (["search", "whale", "-"], signal.SIGTERM),
                          (["compress", "-c", "-f", "-"], signal.SIGINT), (["test", "-"], signal.SIGHUP)):
            code, took = self.stop_waiting(args, sig)
            self.assertEqual(code, 128 + sig, args)
            self.assertLess(took, 1.5, args)

    def test_a_long_search_ends_soon_after_a_signal(self):
        # About eight million rows, which take seconds to make and print
        # even on a fast, quiet machine.
        self.compress("big.txt", text(1600000))
        for delay in (0.2, 0.6):
            with open("rows", "wb") as rows:
                p = subprocess.Popen([MORAVINE, "-q", "search", "-e", "4", "whale", "big.txt.hwz"], stdout=rows,
                                     stderr=subprocess.PIPE)
                time.sleep(delay)
                self.assertIsNone(p.poll(), "the search ended before the signal")
                start = time.monotonic()
                p.send_signal(signal.SIGTERM)
                p.communicate(timeout=20)
            self.assertEqual(p.returncode, 128 + signal.SIGTERM)
            self.assertLess(time.monotonic() - start, 1.5)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    known, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(known.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=2)
