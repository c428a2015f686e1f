#!/usr/bin/env python3
"""The scaling recipe of docs/SCALING.md, run with GNU parallel over local
shards: compressing shard by shard gives the files of one run over the whole
collection, and the merged search rows of the shards are those of one
search over the whole collection.

Usage: scaling_test.py --moravine PATH [unittest arguments]
"""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import ci_unittest  # noqa: E402  (the shared main, in tests/)

MORAVINE = None
WORDS = ("whale ship sea captain harpoon boat deck mast sail wind storm water island sailor ocean wave rope "
         "anchor crew voyage whales wale").split()


def make_collection(root, seed):
    rnd = random.Random(seed)
    for shard in range(5):
        for sub in ("", "deeper"):
            folder = os.path.join(root, "shard-%d" % shard, sub)
            os.makedirs(folder, exist_ok=True)
            for n in range(3):
                lines = rnd.randint(20, 200)
                data = "".join(" ".join(rnd.choice(WORDS) for _ in range(8)) + "\n" for _ in range(lines))
                with open(os.path.join(folder, "book-%d.txt" % n), "w") as f:
                    f.write(data)


def files_below(root):
    found = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def rows(output):
    """JSON lines merged by path: sorted by file, then position (then the
    rest, for rows that share both)."""
    parsed = [json.loads(line) for line in output.splitlines()]
    return sorted(parsed, key=lambda row: (row.get("path", row.get("file")), row["position"],
                                           json.dumps(row, sort_keys=True)))


class Recipe(unittest.TestCase):
    def setUp(self):
        self.assertIsNotNone(shutil.which("parallel"), "GNU parallel is missing: run scripts/setup")
        self.dir = tempfile.mkdtemp(prefix="moravine-scaling-")
        self.collection = os.path.join(self.dir, "collection")
        make_collection(self.collection, 7)
        # Paths relative to the working folder, as a shared file system gives
        # every host the same ones.
        self.shards = sorted(os.path.join("collection", d) for d in os.listdir(self.collection))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def parallel(self, *command, ok_statuses=(0,)):
        # Each shard is one job; the job's output comes out whole (--group).
        # A search that finds nothing in a shard exits 1, which is no failure.
        script = " ".join(command) + ' {}; s=$?; [ $s -le %d ] || exit $s' % max(ok_statuses)
        r = subprocess.run(["parallel", "--will-cite", "--group", "-j", "3", script, ":::", *self.shards],
                           capture_output=True, timeout=300, cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout

    def test_sharded_runs_equal_one_run(self):
        whole = os.path.join(self.dir, "whole")
        shutil.copytree(self.collection, whole)
        single = subprocess.run([MORAVINE, "-q", "compress", whole], capture_output=True, timeout=300)
        self.assertEqual(single.returncode, 0, single.stderr)
        self.parallel(MORAVINE, "-q", "-j", "1", "compress")
        self.assertEqual(files_below(self.collection), files_below(whole))

        for word, errors in (("whale", "0"), ("whale", "1"), ("zebra", "0")):
            merged = self.parallel(MORAVINE, "-q", "-j", "1", "search", "--format", "json", "-e", errors, word,
                                   ok_statuses=(0, 1))
            one = subprocess.run([MORAVINE, "-q", "search", "--format", "json", "-e", errors, word, "collection"],
                                 capture_output=True, timeout=300, cwd=self.dir)
            self.assertIn(one.returncode, (0, 1), one.stderr)
            self.assertEqual(rows(merged), rows(one.stdout))
            self.assertEqual(len(rows(merged)) > 0, word != "zebra")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--moravine", required=True)
    args, rest = parser.parse_known_args()
    MORAVINE = os.path.abspath(args.moravine)
    ci_unittest.main([sys.argv[0], *rest], verbosity=1)
