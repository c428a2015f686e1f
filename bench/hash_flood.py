#!/usr/bin/env python3
"""Hash-flooding check: compresses and decompresses a text of words crafted
to share one value of the vocabulary's documented hash function
(h = 11; for each byte: h ^= (h << 5) + (h >> 2) + b, signed 32-bit with an
arithmetic right shift), and a text of random words of the same shape, and
compares the times. A table that placed tokens by that function would chain
every crafted word in one bucket and take quadratic time.

The crafted words form a multicollision: each stage appends one of two
4-character blocks that lead from the same hash state to the same state
(found by a birthday search), so k stages give 2^k words of 4k characters
with one hash value.

Usage: hash_flood.py [--moravine build/cli/moravine] [--stages 16]
                     [--data build/bench-data/flood] [--runs 3]
"""
import argparse
import os
import random
import shutil
import string
import subprocess
import sys
import time

ALNUM = (string.ascii_letters + string.digits).encode()


def step(h, b):
    s = ((h << 5) & 0xFFFFFFFF) + ((h >> 2) & 0xFFFFFFFF) + b
    h = (h ^ s) & 0xFFFFFFFF
    return h - (1 << 32) if h & 0x80000000 else h


def run(h, block):
    for b in block:
        h = step(h, b)
    return h


def design_hash(token):
    return run(11, token)


def colliding_pair(h, rng):
    seen = {}
    while True:
        block = bytes(rng.choice(ALNUM) for _ in range(4))
        out = run(h, block)
        other = seen.get(out)
        if other is not None and other != block:
            return other, block, out
        seen[out] = block


def crafted_words(stages, seed=1):
    rng = random.Random(seed)
    h = 11
    pairs = []
    for _ in range(stages):
        a, b, h = colliding_pair(h, rng)
        pairs.append((a, b))
    words = [b""]
    for a, b in pairs:
        words = [w + a for w in words] + [w + b for w in words]
    return words, h


def random_words(count, length, seed=2):
    rng = random.Random(seed)
    seen = set()
    out = []
    while len(out) < count:
        w = bytes(rng.choice(ALNUM) for _ in range(length))
        if w not in seen:
            seen.add(w)
            out.append(w)
    return out


def timed(cmd, runs):
    best = None
    for _ in range(runs):
        t0 = time.perf_counter()
        subprocess.run(cmd, check=True)
        dt = time.perf_counter() - t0
        best = dt if best is None else min(best, dt)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--moravine", default="build/cli/moravine")
    ap.add_argument("--stages", type=int, default=16)
    ap.add_argument("--data", default="build/bench-data/flood")
    ap.add_argument("--runs", type=int, default=3)
    args = ap.parse_args()
    moravine = os.path.abspath(args.moravine)
    os.makedirs(args.data, exist_ok=True)

    crafted, value = crafted_words(args.stages)
    assert all(design_hash(w) == value for w in crafted[:1000])
    texts = {"crafted": crafted, "random": random_words(len(crafted), len(crafted[0]))}
    results = {}
    for name, words in texts.items():
        path = os.path.join(args.data, name + ".txt")
        with open(path, "wb") as f:
            f.write(b" ".join(words) + b"\n")
        size = os.path.getsize(path)
        for model in (["--spaceless"], ["--words", "--distance", "0"]):
            hwz = path + ".hwz"
            out_dir = os.path.join(args.data, "out")

            def compress():
                if os.path.exists(hwz):
                    os.remove(hwz)
                subprocess.run([moravine, "-q", "-j", "1", "compress", *model, path], check=True)

            best_c = None
            for _ in range(args.runs):
                t0 = time.perf_counter()
                compress()
                dt = time.perf_counter() - t0
                best_c = dt if best_c is None else min(best_c, dt)
            shutil.rmtree(out_dir, ignore_errors=True)
            os.makedirs(out_dir)
            copy = os.path.join(out_dir, name + ".txt.hwz")
            shutil.copy(hwz, copy)
            best_d = None
            for _ in range(args.runs):
                target = copy[:-4]
                if os.path.exists(target):
                    os.remove(target)
                t0 = time.perf_counter()
                subprocess.run([moravine, "-q", "-j", "1", "decompress", copy], check=True)
                dt = time.perf_counter() - t0
                best_d = dt if best_d is None else min(best_d, dt)
            with open(copy[:-4], "rb") as a, open(path, "rb") as b:
                if a.read() != b.read():
                    print(f"MISMATCH: {name} {model}", file=sys.stderr)
                    sys.exit(1)
            results[(name, model[0])] = (best_c, best_d)
            print(f"{name:8} {model[0]:12} {len(words)} words, {size} bytes: "
                  f"compress {best_c:.3f} s, decompress {best_d:.3f} s")
    status = 0
    for model in ("--spaceless", "--words"):
        c = results[("crafted", model)]
        r = results[("random", model)]
        for i, what in enumerate(("compress", "decompress")):
            ratio = c[i] / r[i]
            verdict = "PASS" if ratio <= 3 else "FAIL"
            if verdict == "FAIL":
                status = 1
            print(f"{verdict}  {model} {what}: crafted / random = {ratio:.2f} (limit 3)")
    sys.exit(status)


if __name__ == "__main__":
    main()
