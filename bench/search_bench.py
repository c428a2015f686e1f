#!/usr/bin/env python3
"""Benchmark the search core against grep, ripgrep and ugrep.

Drives the core through build/tools/agrep/search_core_bench (configure with
-DMORAVINE_BENCH=ON), so that what is measured is the search itself: the
vocabulary match in-process (or through the agrep program, for comparison),
the body scan on each of its paths, line numbers, offsets in the text and
phrases. Two inputs, both from the Gutenberg dev set:

- the 126 MB concatenation of the 416 books, compressed as one file;
- the 416 books in their author folders, each compressed on its own.

Every tool writes its output to a real file (grep and ugrep stop at the first
match when their output is /dev/null). Timings are the best wall-clock and CPU
times of N runs of the whole command, process start included. The core is
single-threaded; rg and ugrep search several files at a time unless told
otherwise (rg -j1 is listed too).

Usage: python3 bench/search_bench.py [--driver PATH] [--data DIR] [--runs N]
                                     [--only text|folder]... [--markdown FILE]
"""
import argparse
import datetime
import os
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import run_bench as rb  # noqa: E402  (measuring and the Gutenberg inputs)

ROOT = Path(__file__).resolve().parent.parent
PHRASE = "the white whale"
PHRASE_REGEX = r"the\s+white\s+whale"


def prepare(driver, data):
    """The inputs, made once: plain, compressed by the core, zstd copies."""
    folder, text = rb.gutenberg(data)
    hwz_text = data / "gutenberg-dev.txt.hwz"
    if not hwz_text.exists():
        subprocess.run([driver, "compress", str(text), str(hwz_text) + ".tmp"], check=True)
        os.rename(str(hwz_text) + ".tmp", hwz_text)
    hwz_dir = data / "search-hwz"
    if not hwz_dir.exists():
        tmp = rb.fresh_dir(data / "search-hwz.tmp")
        subprocess.run([driver, "compress", str(folder), str(tmp)], check=True)
        tmp.rename(hwz_dir)
    zst_text = data / "gutenberg-dev.txt.zst"
    if not zst_text.exists():
        subprocess.run(["zstd", "-q", "-3", "-T1", "-f", str(text), "-o", str(zst_text)], check=True)
    zst_dir = data / "search-zst"
    if not zst_dir.exists():
        tmp = data / "search-zst.tmp"
        shutil.rmtree(tmp, ignore_errors=True)
        shutil.copytree(folder, tmp)
        subprocess.run(["zstd", "-q", "-r", "--rm", "-3", "-T1", str(tmp)], check=True)
        tmp.rename(zst_dir)
    return {"text": (text, hwz_text, zst_text), "folder": (folder, hwz_dir, zst_dir)}


def cases(driver, kind, plain, hwz, zst):
    """(title, [(name, command, counts hits?)]) for one input."""
    d = [str(driver), "search"]
    r = ["-r"] if kind == "folder" else []
    p, h, z = str(plain), str(hwz), str(zst)
    out = []
    for word in ("whale", "Elizabeth"):
        out.append((f"exact «{word}», with line numbers", [
            ("core", d + ["-n", word, h], True),
            ("core, scalar scan", d + ["--scan", "scalar", "-n", word, h], True),
            ("core, agrep program", d + ["--program", "-n", word, h], True),
            ("rg -w", ["rg", "-n", "-w", word, p], False),
            ("rg -j1 -w", ["rg", "-j1", "-n", "-w", word, p], False),
            ("grep -w", ["grep"] + r + ["-n", "-w", word, p], False),
            ("ugrep -z -w (zstd)", ["ugrep"] + r + ["-z", "-n", "-w", word, z], False),
        ]))
    out.append(("«whale», ASCII case ignored", [
        ("core -i", d + ["-i", "-n", "whale", h], True),
        ("rg -i -w", ["rg", "-i", "-n", "-w", "whale", p], False),
        ("grep -i -w", ["grep"] + r + ["-i", "-n", "-w", "whale", p], False),
        ("ugrep -z -i -w (zstd)", ["ugrep"] + r + ["-z", "-i", "-n", "-w", "whale", z], False),
    ]))
    out.append(("«whale» with 1 error", [
        ("core -e 1", d + ["-e", "1", "-n", "whale", h], True),
        ("core -e 1, scalar scan", d + ["--scan", "scalar", "-e", "1", "-n", "whale", h], True),
        ("ugrep -Z1 -w", ["ugrep"] + r + ["-Z1", "-n", "-w", "whale", p], False),
    ]))
    out.append((f"phrase «{PHRASE}» (across line ends)", [
        ("core", d + ["-n", PHRASE, h], True),
        ("rg -U -w", ["rg", "-U", "-n", "-w", PHRASE_REGEX, p], False),
        ("ugrep -z -w (zstd)", ["ugrep"] + r + ["-z", "-n", "-w", PHRASE_REGEX, z], False),
    ]))
    out.append(("«whale» with line numbers and byte offsets", [
        ("core -n -b", d + ["-n", "-b", "whale", h], True),
        ("grep -n -b -o -w", ["grep"] + r + ["-n", "-b", "-o", "-w", "whale", p], False),
        ("rg -n -b -o -w", ["rg", "-n", "-b", "-o", "-w", "whale", p], False),
    ]))
    return out


def run_case(tools, out, runs, notes):
    rows = []
    for name, cmd, hits in tools:
        if shutil.which(cmd[0]) is None and not os.path.exists(cmd[0]):
            notes.append(f"`{cmd[0]}` not found: {name} skipped")
            continue
        measured, counts = [], set()
        for _ in range(runs):
            measured.append(rb.measure(cmd, stdout=out))
            counts.add(rb.count_lines(out))
        if len(counts) > 1:
            notes.append(f"`{shlex.join(cmd)}` printed a different number of lines from run to run")
        shown = shlex.join([Path(cmd[0]).name] + cmd[1:])
        rows.append(rb.best(name, measured, shown=shown, count=max(counts), unit="hits" if hits else "lines"))
    return rows


def table(rows):
    md = ["| tool | command | wall s | CPU s | peak MB | output |", "|---|---|---:|---:|---:|---:|"]
    for row in rows:
        md.append(f"| {row['tool']} | `{row['shown']}` | {row['time']:.3f} | {row['cpu']:.3f} | "
                  f"{row['mem'] / rb.MB:.0f} | {row['count']} {row['unit']} |")
    return md


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--driver", default=str(ROOT / "build/tools/agrep/search_core_bench"))
    ap.add_argument("--data", default=str(ROOT / "build/bench-data"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--only", action="append", choices=["text", "folder"])
    ap.add_argument("--markdown")
    args = ap.parse_args()
    driver = Path(args.driver).resolve()
    if not driver.exists():
        sys.exit(f"{driver} not found: configure with -DMORAVINE_BENCH=ON and build search_core_bench")
    data = Path(args.data).resolve()
    data.mkdir(parents=True, exist_ok=True)
    inputs = prepare(driver, data)
    out = data / "search-output.txt"
    notes = []
    load = os.getloadavg()
    md = ["# Search core benchmark", "",
          f"{datetime.date.today()}; load average at the start {load[0]:.2f}; best of {args.runs} runs; "
          f"every output written to `{out.name}`.", ""]
    for kind in args.only or ["text", "folder"]:
        plain, hwz, zst = inputs[kind]
        md += ["", f"## {'The 126 MB concatenation' if kind == 'text' else 'The 416-book folder'}", ""]
        for title, tools in cases(driver, kind, plain, hwz, zst):
            print(f"{kind}: {title}", flush=True)
            md += ["", f"### {title}", ""] + table(run_case(tools, out, args.runs, notes))
    if notes:
        md += ["", "## Oddities", ""] + [f"- {n}" for n in notes]
    text = "\n".join(md) + "\n"
    if args.markdown:
        Path(args.markdown).write_text(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    try:
        main()
    except rb.BenchError as e:
        sys.exit(str(e))
