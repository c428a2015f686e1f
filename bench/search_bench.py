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

With --program PATH it measures the command-line program instead, on the
targets of the search: the 416-book folder (a rare word exactly and with one
and two errors, and a common word with two errors and a quarter of a
million hits), a folder of 1,000 files of about 16 KB cut from the books, and
the 126 MB concatenation (exact, a three-word phrase, a rare word and a
common one with one error, the common one with two); each target line gives
the ratio to the tool it is compared with.

Usage: python3 bench/search_bench.py [--driver PATH] [--data DIR] [--runs N]
                                     [--only text|folder]... [--markdown FILE]
       python3 bench/search_bench.py --program build/cli/moravine [--data DIR] [--runs N]
                                     [--pairs N] [--markdown FILE]

With --pairs N the targets are timed in pairs instead: the program and its
yardstick run in turn, A B A B ..., N times each after one run of each that
is not counted, and each ratio is taken within its pair, so that a machine
whose speed drifts during the run moves both sides of a ratio alike; the
table gives the medians.
"""
import argparse
import datetime
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import time
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
    program = Path(driver).name == "moravine"
    if not hwz_text.exists():
        if program:  # the program writes TEXT.hwz beside its input
            subprocess.run([driver, "-q", "compress", str(text)], check=True)
        else:
            subprocess.run([driver, "compress", str(text), str(hwz_text) + ".tmp"], check=True)
            os.rename(str(hwz_text) + ".tmp", hwz_text)
    hwz_dir = data / "search-hwz"
    if not hwz_dir.exists():
        if program:
            tmp = data / "search-hwz.tmp"
            shutil.rmtree(tmp, ignore_errors=True)
            shutil.copytree(folder, tmp)
            subprocess.run([driver, "-q", "compress", str(tmp)], check=True)
            subprocess.run([driver, "-q", "remove-original", str(tmp)], check=True)
        else:
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


RARE = "Brobdingnagians"
SMALL_FILES = 1000
SMALL_SIZE = 16 * 1024


def prepare_small(program, text, data):
    """1,000 files of about 16 KB cut at line ends from the concatenation:
    plain, compressed by the program, zstd copies, and their concatenation."""
    plain, hwz, zst = data / "small-plain", data / "small-hwz", data / "small-zst"
    one = data / "small-one.txt"
    if not plain.exists():
        tmp = rb.fresh_dir(data / "small-plain.tmp")
        with open(text, "rb") as f, open(one, "wb") as whole:
            for i in range(SMALL_FILES):
                piece = f.read(SMALL_SIZE)
                piece += f.readline()
                (tmp / f"part{i:04d}.txt").write_bytes(piece)
                whole.write(piece)
        tmp.rename(plain)
    if not hwz.exists():
        tmp = data / "small-hwz.tmp"
        shutil.rmtree(tmp, ignore_errors=True)
        shutil.copytree(plain, tmp)
        subprocess.run([program, "-q", "compress", str(tmp)], check=True)
        subprocess.run([program, "-q", "remove-original", str(tmp)], check=True)
        tmp.rename(hwz)
    if not zst.exists():
        tmp = data / "small-zst.tmp"
        shutil.rmtree(tmp, ignore_errors=True)
        shutil.copytree(plain, tmp)
        subprocess.run(["zstd", "-q", "-r", "--rm", "-3", "-T1", str(tmp)], check=True)
        tmp.rename(zst)
    if not Path(str(one) + ".hwz").exists():
        subprocess.run([program, "-q", "compress", str(one)], check=True)
    return plain, hwz, zst, Path(str(one) + ".hwz")


def program_cases(program, inputs, small):
    """(title, [(name, command, counts hits?)], [(mine, other, need)]) for the targets."""
    m = [str(program), "-q", "search", "-n"]
    text, hwz_text, zst_text = (str(p) for p in inputs["text"])
    folder, hwz_dir, zst_dir = (str(p) for p in inputs["folder"])
    s_plain, s_hwz, s_zst, s_one = (str(p) for p in small)
    return [
        (f"416-book folder, rare word «{RARE}»", [
            ("moravine", m + [RARE, hwz_dir], True),
            ("rg -w (plain)", ["rg", "-n", "-w", RARE, folder], False),
            ("ugrep -z -r -w (zstd)", ["ugrep", "-z", "-r", "-n", "-w", RARE, zst_dir], False),
        ], [(0, 1, 2.0), (0, 2, 3.0)]),
        (f"416-book folder, «{RARE}» with 1 error", [
            ("moravine -e 1", m + ["-e", "1", RARE, hwz_dir], True),
            ("ugrep -r -Z1 -w (plain)", ["ugrep", "-r", "-n", "-Z1", "-w", RARE, folder], False),
        ], [(0, 1, 3.0)]),
        (f"416-book folder, «{RARE}» with 2 errors", [
            ("moravine -e 2", m + ["-e", "2", RARE, hwz_dir], True),
            ("ugrep -r -Z2 -w (plain)", ["ugrep", "-r", "-n", "-Z2", "-w", RARE, folder], False),
        ], [(0, 1, 3.0)]),
        ("416-book folder, «whale» with 2 errors (many hits)", [
            ("moravine -e 2", m + ["-e", "2", "whale", hwz_dir], True),
            ("ugrep -r -Z2 -w (plain)", ["ugrep", "-r", "-n", "-Z2", "-w", "whale", folder], False),
        ], [(0, 1, 0)]),
        ("1,000 files of about 16 KB, «whale»", [
            ("moravine", m + ["whale", s_hwz], True),
            ("moravine, one file of the same text", m + ["whale", s_one], True),
            ("rg -w (plain)", ["rg", "-n", "-w", "whale", s_plain], False),
            ("ugrep -z -r -w (zstd)", ["ugrep", "-z", "-r", "-n", "-w", "whale", s_zst], False),
        ], [(0, 3, 3.0)]),
        ("126 MB concatenation, «whale»", [
            ("moravine", m + ["whale", hwz_text], True),
            ("rg -w", ["rg", "-n", "-w", "whale", text], False),
        ], [(0, 1, 3.0)]),
        (f"126 MB concatenation, phrase «{PHRASE}»", [
            ("moravine", m + [PHRASE, hwz_text], True),
            ("rg -U -w", ["rg", "-U", "-n", "-w", PHRASE_REGEX, text], False),
        ], [(0, 1, 2.0)]),
        (f"126 MB concatenation, «{RARE}» with 1 error", [
            ("moravine -e 1", m + ["-e", "1", RARE, hwz_text], True),
            ("ugrep -Z1 -w", ["ugrep", "-n", "-Z1", "-w", RARE, text], False),
        ], [(0, 1, 3.0)]),
        ("126 MB concatenation, «whale» with 1 error", [
            ("moravine -e 1", m + ["-e", "1", "whale", hwz_text], True),
            ("ugrep -Z1 -w", ["ugrep", "-n", "-Z1", "-w", "whale", text], False),
        ], [(0, 1, 3.0)]),
        ("126 MB concatenation, «whale» with 2 errors (many hits)", [
            ("moravine -e 2", m + ["-e", "2", "whale", hwz_text], True),
            ("ugrep -Z2 -w", ["ugrep", "-n", "-Z2", "-w", "whale", text], False),
        ], [(0, 1, 0)]),
    ]


def run_once(cmd, out):
    """Wall and CPU seconds (user + system, the command's children included) of
    one run, its output written to `out`."""
    with open(out, "wb") as f:
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) not in (0, 1):  # 1: nothing found, for grep's kind
        raise rb.BenchError(f"command failed: {shlex.join(cmd)}")
    return wall, usage.ru_utime + usage.ru_stime


def paired(mine, other, out, pairs):
    """Medians of both commands' times and of the speed-ups (other / mine)
    taken pair by pair, wall and CPU."""
    run_once(mine, out)
    run_once(other, out)
    a, b = [], []
    for _ in range(pairs):
        a.append(run_once(mine, out))
        b.append(run_once(other, out))
    med = statistics.median
    return {"mine": med(x[0] for x in a), "other": med(x[0] for x in b),
            "wall": med(y[0] / x[0] for x, y in zip(a, b)),
            "cpu": med(y[1] / max(x[1], 1e-6) for x, y in zip(a, b))}


def pairs_main(args, program, inputs, small, out):
    load = os.getloadavg()
    md = ["# Search targets, paired runs", "",
          f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC; {os.cpu_count()} cores; "
          f"load average at the start {load[0]:.2f}; {args.pairs} pairs a case; every output written to "
          f"`{out.name}`; speed-up = the yardstick's time over the program's, median of the pairs.", "",
          "| case | program | yardstick | program wall s | yardstick wall s | speed-up, wall | speed-up, CPU "
          "| target | verdict |",
          "|---|---|---|---:|---:|---:|---:|---:|---|"]
    for title, tools, goals in program_cases(program, inputs, small):
        for mine, other, need in goals:
            (a_name, a_cmd, _), (b_name, b_cmd, _) = tools[mine], tools[other]
            if shutil.which(b_cmd[0]) is None:
                continue
            print(f"{title}: {a_name} vs {b_name}", flush=True)
            r = paired(a_cmd, b_cmd, out, args.pairs)
            shown_a = shlex.join(["moravine"] + a_cmd[1:-1] + [Path(a_cmd[-1]).name])
            shown_b = shlex.join(b_cmd[:-1] + [Path(b_cmd[-1]).name])
            verdict = "met" if r["wall"] >= need else "missed"
            goal = f"{need:g}x" if need else "none"
            md.append(f"| {title} | `{shown_a}` | `{shown_b}` | {r['mine']:.4f} | {r['other']:.4f} | "
                      f"{r['wall']:.2f}x | {r['cpu']:.2f}x | {goal} | {verdict if need else ''} |")
    load = os.getloadavg()
    md += ["", f"Load average at the end: {load[0]:.2f}."]
    return md


def program_main(args):
    program = Path(args.program).resolve()
    data = Path(args.data).resolve()
    data.mkdir(parents=True, exist_ok=True)
    inputs = prepare(program_driver(program), data)
    small = prepare_small(program, inputs["text"][0], data)
    out = data / "search-output.txt"
    if args.pairs:
        text = "\n".join(pairs_main(args, program, inputs, small, out)) + "\n"
        if args.markdown:
            Path(args.markdown).write_text(text)
        sys.stdout.write(text)
        return
    notes = []
    load = os.getloadavg()
    md = ["# Search benchmark: the command-line program", "",
          f"{datetime.date.today()}; {os.cpu_count()} cores; load average at the start {load[0]:.2f}; "
          f"best of {args.runs} runs; every output written to `{out.name}`.", ""]
    targets = []
    for title, tools, goals in program_cases(program, inputs, small):
        print(title, flush=True)
        rows = run_case(tools, out, args.runs, notes)
        md += ["", f"### {title}", ""] + table(rows)
        by_name = {r["tool"]: r for r in rows}
        for mine, other, need in goals:
            a, b = tools[mine][0], tools[other][0]
            if need and a in by_name and b in by_name:
                targets.append(rb.target_line(title, f"{a} vs {b}, need {need:g}x", by_name[a], by_name[b], need))
    md += ["", "## Targets (wall time)", ""] + [f"- {t}" for t in targets]
    if notes:
        md += ["", "## Oddities", ""] + [f"- {n}" for n in notes]
    text = "\n".join(md) + "\n"
    if args.markdown:
        Path(args.markdown).write_text(text)
    sys.stdout.write(text)


def program_driver(program):
    """The inputs of the core benchmark are made by its driver when it is built;
    otherwise they must exist already."""
    driver = ROOT / "build/tools/agrep/search_core_bench"
    return driver if driver.exists() else program


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
    ap.add_argument("--program", help="measure this moravine program on the targets instead of the core")
    ap.add_argument("--pairs", type=int, default=0,
                    help="with --program: time each target as this many pairs of runs, program and yardstick in turn")
    args = ap.parse_args()
    if args.program:
        return program_main(args)
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
