#!/usr/bin/env python3
"""Benchmark the moravine command line: compression, search, folders.

Three sections, each comparing Moravine with common tools on the same inputs in
the same run:

- single: one file compressed and decompressed by Moravine (three models),
  gzip -6, zstd -3 and xz -6, all single-threaded: size, speed, peak memory;
- search: the 126 MB Gutenberg text compressed as one file, searched for a rare
  and a common word, exactly and with 1 and 2 errors, against zstdcat | grep,
  grep, ripgrep, ugrep and tre-agrep;
- folder: the 416 Gutenberg books in their author folders, compressed and
  decompressed as a folder (Moravine -j 1 and -j 2, gzip -r, zstd -r), then
  searched for a rare word.

Timings are the best (minimum) wall-clock and CPU (user + system) times of N
runs of the whole command, process start included; peak memory is the largest
maximum resident set size reported by /usr/bin/time. Every round trip is
checked byte for byte; a mismatch or a failing command ends the run with a
non-zero status.

Usage: python3 bench/run_bench.py [--only single|search|folder]... [--runs N]
                                  [--xz-runs N] [--tre-runs N] [--quick]
                                  [--markdown docs/BENCHMARKS.md]
"""
import argparse
import datetime
import hashlib
import os
import platform
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORPUS = Path("/work/shared/corpus")
GUTENBERG_TAR = CORPUS / "gutenberg-dev.tar.xz"
TIME = "/usr/bin/time"
SECTIONS = ["single", "search", "folder"]

# (name, extra compress arguments) for each Moravine model; the first is the default.
MORAVINE_MODELS = [
    ("moravine spaceless", ["--spaceless"]),
    ("moravine words d=0", ["--words", "--distance", "0"]),
    ("moravine words d=128", ["--words"]),
]
# (name, compress command, decompress command); both read stdin and write stdout.
OTHER_TOOLS = [
    ("gzip -6", ["gzip", "-6", "-c"], ["gzip", "-d", "-c"]),
    ("zstd -3", ["zstd", "-3", "-T1", "-q", "-c"], ["zstd", "-d", "-T1", "-q", "-c"]),
    ("xz -6", ["xz", "-6", "-T1", "-c"], ["xz", "-d", "-T1", "-c"]),
]
# Environment variables that could change a tool's level or thread count.
TOOL_ENV_VARS = ["GZIP", "ZSTD_CLEVEL", "ZSTD_NBTHREADS", "XZ_OPT", "XZ_DEFAULTS",
                 "GREP_OPTIONS", "RIPGREP_CONFIG_PATH"]

SEARCH_WORDS = ["whale", "Elizabeth"]   # rare, common (in the Gutenberg dev set)
FOLDER_WORD = "whale"

MB = 1e6


class BenchError(Exception):
    pass


@dataclass
class Context:
    moravine: str          # private copy of the binary, with our agrep beside it
    env: dict              # extra environment of every moravine command
    tmpdir: Path           # moravine's TMPDIR; must be empty after every command
    data: Path             # scratch directory
    args: argparse.Namespace
    notes: list = field(default_factory=list)   # oddities found during the run


# ---------------------------------------------------------------- measuring

def measure(cmd, stdin=None, stdout=None, env=None):
    """Run cmd once; return (wall seconds, CPU seconds, peak RSS in bytes)."""
    full_env = {k: v for k, v in os.environ.items() if k not in TOOL_ENV_VARS}
    full_env.update(env or {})
    fin = open(stdin, "rb") if stdin else subprocess.DEVNULL
    fout = open(stdout, "wb") if stdout else subprocess.DEVNULL
    with tempfile.TemporaryFile() as ferr:
        try:
            start = time.perf_counter()
            proc = subprocess.Popen([TIME, "-f", "%M"] + cmd, stdin=fin, stdout=fout,
                                    stderr=ferr, env=full_env)
            _, status, usage = os.wait4(proc.pid, 0)
            wall = time.perf_counter() - start
            proc.returncode = os.waitstatus_to_exitcode(status)
        finally:
            for f in (fin, fout):
                if f is not subprocess.DEVNULL:
                    f.close()
        ferr.seek(0)
        err = ferr.read().decode(errors="replace")
    if proc.returncode != 0:
        raise BenchError(f"command failed (status {proc.returncode}): {shlex.join(cmd)}\n{err}")
    # /usr/bin/time prints the peak RSS in KiB as the last line of stderr;
    # the rusage of /usr/bin/time includes the CPU time of everything it waited for.
    return wall, usage.ru_utime + usage.ru_stime, int(err.split()[-1]) * 1024


def measure_moravine(ctx, margs, stdout=None):
    """measure() for `moravine MARGS`; notes temporary files it leaves behind."""
    r = measure([ctx.moravine] + margs, stdout=stdout, env=ctx.env)
    left = sorted(p.name for p in ctx.tmpdir.iterdir())
    if left:
        ctx.notes.append(f"`moravine {shlex.join(margs)}` left {len(left)} temporary "
                         f"file(s) in TMPDIR: {', '.join(left[:5])}")
        for name in left:
            (ctx.tmpdir / name).unlink()
    return r


def best(name, runs_measured, **extra):
    """Best wall and CPU time and largest peak RSS of (wall, cpu, rss) runs."""
    return {"tool": name, "time": min(r[0] for r in runs_measured),
            "cpu": min(r[1] for r in runs_measured), "mem": max(r[2] for r in runs_measured),
            "runs": len(runs_measured), **extra}


def same_bytes(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def count_lines(path):
    with open(path, "rb") as f:
        return sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))


def fmt_ratio(x):
    return f"{x:.2f}x" if x < 10 else f"{x:.1f}x"


def target_line(kind, text, mine, other, need):
    """PASS/MISS for 'mine is at least NEED times as fast as other' (wall time)."""
    got = other["time"] / mine["time"]
    verdict = "PASS" if got >= need else "MISS"
    return (f"{verdict}  [{kind}] {text}: measured {got:.2f}x "
            f"(by CPU time: {other['cpu'] / max(mine['cpu'], 1e-6):.2f}x)")


# ---------------------------------------------------------------- inputs

def gutenberg(data):
    """Unpack the Gutenberg tarball once; cache the sorted concatenation.

    Returns (folder of the 416 books, concatenated text)."""
    root, out = data / "gutenberg", data / "gutenberg-dev.txt"
    if not (root / "dev").is_dir():
        shutil.rmtree(root, ignore_errors=True)
        out.unlink(missing_ok=True)
        print(f"unpacking {GUTENBERG_TAR} into {root} ...", flush=True)
        with tarfile.open(GUTENBERG_TAR) as tar:
            tar.extractall(root, filter="data")
    if not out.exists():
        files = sorted(p.relative_to(root).as_posix() for p in root.rglob("*") if p.is_file())
        tmp = out.with_suffix(".tmp")
        with open(tmp, "wb") as w:
            for rel in files:
                with open(root / rel, "rb") as r:
                    shutil.copyfileobj(r, w, 1 << 20)
        tmp.rename(out)
        print(f"concatenated {len(files)} files into {out} ({out.stat().st_size} bytes)",
              flush=True)
    return root / "dev", out


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


# ================================================================ single file

def bench_other(name, ccmd, dcmd, src, work, runs):
    packed, unpacked = work / "packed", work / "unpacked"
    comp = [measure(ccmd, stdin=src, stdout=packed) for _ in range(runs)]
    dec = []
    for _ in range(runs):
        dec.append(measure(dcmd, stdin=packed, stdout=unpacked))
        if not same_bytes(src, unpacked):
            raise BenchError(f"{name}: round trip of {src} differs from the original")
    return result(name, src, packed, comp, dec)


def bench_moravine(ctx, name, margs, src, work, runs):
    # Moravine writes FILE.hwz next to FILE, and FILE next to FILE.hwz:
    # compress a link to the input inside the scratch dir, decompress a copy.
    link = work / src.name
    link.symlink_to(src)
    packed = work / (src.name + ".hwz")
    dec_dir = work / "dec"
    dec_dir.mkdir()
    unpacked = dec_dir / src.name
    comp, dec = [], []
    for _ in range(runs):
        packed.unlink(missing_ok=True)   # compress refuses a file whose FILE.hwz exists
        comp.append(measure_moravine(ctx, ["-q", "-j", "1", "compress"] + margs + [str(link)]))
    shutil.copyfile(packed, dec_dir / packed.name)
    for _ in range(runs):
        unpacked.unlink(missing_ok=True)
        dec.append(measure_moravine(ctx, ["-q", "-j", "1", "decompress",
                                          str(dec_dir / packed.name)]))
        if not same_bytes(src, unpacked):
            raise BenchError(f"{name}: round trip of {src} differs from the original")
    return result(name, src, packed, comp, dec)


def result(name, src, packed, comp, dec):
    """Best times and largest peak RSS over the runs (each run: wall, cpu, rss)."""
    return {"tool": name, "size": os.path.getsize(packed), "orig": os.path.getsize(src),
            "runs": len(comp),
            "ctime": min(r[0] for r in comp), "ccpu": min(r[1] for r in comp),
            "cmem": max(r[2] for r in comp),
            "dtime": min(r[0] for r in dec), "dcpu": min(r[1] for r in dec),
            "dmem": max(r[2] for r in dec)}


def input_table(rows):
    lines = ["| tool | runs | compressed bytes | ratio | compress s (CPU s) | MB/s "
             "| decompress s (CPU s) | MB/s | peak RSS compress MB | peak RSS decompress MB |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        o = r["orig"]
        lines.append(f"| {r['tool']} | {r['runs']} | {r['size']} | {r['size'] / o:.4f} "
                     f"| {r['ctime']:.3f} ({r['ccpu']:.3f}) | {o / MB / r['ctime']:.1f} "
                     f"| {r['dtime']:.3f} ({r['dcpu']:.3f}) | {o / MB / r['dtime']:.1f} "
                     f"| {r['cmem'] / MB:.1f} | {r['dmem'] / MB:.1f} |")
    return lines


def versus_table(rows):
    """Moravine vs each other tool: >1x speed means Moravine is faster."""
    lines = ["| Moravine | vs | compression speed | decompression speed "
             "| compressed size | peak RSS (max of both) |",
             "|---|---|---:|---:|---:|---:|"]
    mor = [r for r in rows if r["tool"].startswith("moravine")]
    oth = [r for r in rows if not r["tool"].startswith("moravine")]
    for m in mor:
        for o in oth:
            lines.append(f"| {m['tool']} | {o['tool']} | {fmt_ratio(o['ctime'] / m['ctime'])} "
                         f"| {fmt_ratio(o['dtime'] / m['dtime'])} | {m['size'] / o['size']:.2f}x "
                         f"| {max(m['cmem'], m['dmem']) / max(o['cmem'], o['dmem']):.2f}x |")
    return lines


def single_targets(rows):
    by = {r["tool"]: r for r in rows}
    as_times = lambda r, p: {"time": r[p + "time"], "cpu": r[p + "cpu"]}
    gz, zs = by["gzip -6"], by["zstd -3"]
    lines = []
    for name, _ in MORAVINE_MODELS:
        m = by[name]
        checks = [
            ("target", "compression >= 5x as fast as gzip -6", gz, "c", 5.0),
            ("aim", "compression as fast as zstd -3", zs, "c", 1.0),
            ("target", "decompression >= 3x as fast as gzip -d", gz, "d", 3.0),
            ("aim", "decompression as fast as zstd -d", zs, "d", 1.0),
        ]
        for kind, what, other, p, need in checks:
            lines.append(target_line(kind, f"{name}: {what}", as_times(m, p),
                                     as_times(other, p), need))
        peak = max(m["cmem"], m["dmem"])
        ratio = peak / m["orig"]
        verdict = "PASS" if ratio <= 2.0 else "MISS"
        lines.append(f"{verdict}  [target] {name}: peak memory <= 2x input size: "
                     f"measured {peak / MB:.1f} MB = {ratio:.2f}x input")
    return lines


def single_section(ctx, text):
    args = ctx.args
    inputs = [("bible.txt (Canterbury)", CORPUS / "canterbury/bible.txt"),
              ("world192.txt (Canterbury)", CORPUS / "canterbury/world192.txt")]
    if not args.quick:
        inputs.append(("Gutenberg dev set, 416 books concatenated", text))
    md = ["## Single files: compression and decompression", "",
          "Every tool single-threaded. Commands:", ""]
    md += [f"- {name}: `moravine -q -j 1 compress {' '.join(a)} FILE` then "
           "`moravine -q -j 1 decompress FILE.hwz` (on a copy of FILE.hwz in its own directory; "
           "FILE.hwz is removed before each compression)" for name, a in MORAVINE_MODELS]
    md += [f"- {name}: `{' '.join(c)} < FILE > FILE.z` then `{' '.join(d)} < FILE.z > FILE.out`"
           for name, c, d in OTHER_TOOLS]
    md += ["", "MB/s is original megabytes (10^6 bytes) per second, for compression and "
           "decompression alike; ratio is compressed/original. The runs column gives the number "
           "of runs of which the best is kept (xz: `--xz-runs`)."]
    targets = []
    work = ctx.data / "work"
    for label, src in inputs:
        label = f"{label}: {src.stat().st_size} bytes"
        print(f"\n== {label}", flush=True)
        same_bytes(src, src)  # bring the input into the page cache
        rows = []
        for name, margs in MORAVINE_MODELS:
            rows.append(bench_moravine(ctx, name, margs, src, fresh_dir(work), args.runs))
            print(f"  {name:22} done", flush=True)
        for name, c, d in OTHER_TOOLS:
            runs = args.xz_runs if name.startswith("xz") else args.runs
            rows.append(bench_other(name, c, d, src, fresh_dir(work), runs))
            print(f"  {name:22} done", flush=True)
        shutil.rmtree(work, ignore_errors=True)
        tables = input_table(rows) + ["", "Moravine vs each other tool (speed: how many times "
                                      "faster Moravine is; size and memory: Moravine divided "
                                      "by the other tool):", ""] + versus_table(rows)
        print("\n".join(tables), flush=True)
        md += ["", f"### {label}", ""] + tables
        if src == text:
            targets = single_targets(rows)
    if targets:
        md += ["", "### Targets on the 126 MB Gutenberg text", "",
               "Targets: compression at least 5x as fast as gzip -6 (aim: as fast as zstd -3); "
               "decompression at least 3x as fast as gzip -d (aim: as fast as zstd -d); "
               "peak memory at most twice the input size.", "", "```"] + targets + ["```"]
    else:
        md += ["", "The 126 MB Gutenberg text was skipped (`--quick`); no target lines."]
    return md, targets


# ================================================================ searches

def run_search(ctx, name, shown, cmd, errors, out, runs, moravine=False, unit="lines"):
    """Time one search command; count the rows it prints (the same in every run)."""
    measured, counts = [], set()
    for _ in range(runs):
        if moravine:
            measured.append(measure_moravine(ctx, cmd, stdout=out))
        else:
            measured.append(measure(cmd, stdout=out))
        counts.add(count_lines(out))
    if len(counts) > 1:
        ctx.notes.append(f"`{shown}` printed a different number of rows from run to run: "
                         f"{sorted(counts)}")
    count = max(counts)
    if moravine:
        # A text row is one line; cross-check with the tab-separated format.
        tsv = [ctx.moravine] + cmd[:cmd.index("search") + 1] + ["--format", "tsv"] \
            + cmd[cmd.index("search") + 1:]
        rows = subprocess.run(tsv, env={**os.environ, **ctx.env},
                              capture_output=True).stdout.count(b"\n")
        if rows != count:
            ctx.notes.append(f"`{shown}` printed {count} lines but {rows} rows with --format tsv")
    return best(name, measured, shown=shown, errors=errors, count=count,
                unit="hits" if moravine else unit)


def search_table(rows):
    """Rows of one search; the last column compares each tool with Moravine."""
    ref = {}
    for r in rows:
        if r["tool"].startswith("moravine"):
            ref.setdefault(r["errors"], r)   # the first Moravine row of each error count
    cell = lambda text: text.replace("|", "\\|")   # a | inside a table cell
    lines = ["| tool | command | runs | found | wall s (CPU s) | peak RSS MB "
             "| time / Moravine's |",
             "|---|---|---:|---:|---:|---:|---:|"]
    for r in rows:
        m = ref[r["errors"]]
        vs = "" if r is m else fmt_ratio(r["time"] / m["time"])
        lines.append(f"| {cell(r['tool'])} | `{cell(r['shown'])}` | {r['runs']} "
                     f"| {r['count']} {r['unit']} "
                     f"| {r['time']:.3f} ({r['cpu']:.3f}) | {r['mem'] / MB:.1f} | {vs} |")
    return lines


def search_section(ctx, text):
    """Search the 126 MB text compressed as one file. Returns (md, targets, results)."""
    args = ctx.args
    work = fresh_dir(ctx.data / "search")
    link = work / text.name
    link.symlink_to(text)
    hwz, zst, out = work / (text.name + ".hwz"), work / (text.name + ".zst"), work / "out"
    print(f"\n== search: compressing {text.name} (moravine spaceless, zstd -3)", flush=True)
    measure_moravine(ctx, ["-q", "compress", str(link)])
    measure(["zstd", "-3", "-T1", "-q", "-c"], stdin=text, stdout=zst)
    same_bytes(text, text)  # bring the inputs into the page cache
    same_bytes(hwz, hwz)
    same_bytes(zst, zst)
    q = shlex.quote
    md = ["## Search in one compressed file", "",
          f"The 126 MB Gutenberg text ({text.stat().st_size} bytes) compressed as one file: "
          f"FILE.hwz by `moravine compress` (spaceless model, {hwz.stat().st_size} bytes), "
          f"FILE.zst by `zstd -3` ({zst.stat().st_size} bytes); FILE is the uncompressed text. "
          "Each whole command is timed, process start included, with its standard output "
          "written to a file (grep stops at the first match when it writes to /dev/null). "
          "Found: Moravine counts hits (one row per occurrence); grep, ripgrep, ugrep and "
          "tre-agrep count lines that match. Moravine's words are runs of ASCII letters and "
          "digits, grep -w's also take `_` and non-ASCII letters, so the counts differ "
          "slightly even for exact searches; with errors, ugrep -Z demands that the first "
          "character of a match be at the start of the pattern. Only the times are compared. "
          "tre-agrep runs `--tre-runs` times.", ""]
    results, targets = {}, []
    for word in SEARCH_WORDS:
        print(f"\n== search: {word}", flush=True)
        w = q(word)
        specs = [
            ("moravine", f"moravine -q search {w} FILE.hwz",
             ["-q", "search", word, str(hwz)], 0, True),
            ("zstdcat | grep -w", f"zstdcat FILE.zst | grep -w {w}",
             ["sh", "-c", f"zstdcat {q(str(zst))} | grep -w {w}"], 0, False),
            ("grep -w", f"grep -w {w} FILE", ["grep", "-w", word, str(text)], 0, False),
            ("rg -w", f"rg -w {w} FILE", ["rg", "-w", word, str(text)], 0, False),
            ("ugrep -w", f"ugrep -w {w} FILE", ["ugrep", "-w", word, str(text)], 0, False),
        ]
        for k in (1, 2):
            specs += [
                (f"moravine -e {k}", f"moravine -q search -e {k} {w} FILE.hwz",
                 ["-q", "search", "-e", str(k), word, str(hwz)], k, True),
                (f"ugrep -Z{k} -w", f"ugrep -Z{k} -w {w} FILE",
                 ["ugrep", f"-Z{k}", "-w", word, str(text)], k, False),
                (f"tre-agrep -{k} -w", f"tre-agrep -{k} -w {w} FILE",
                 ["tre-agrep", f"-{k}", "-w", word, str(text)], k, False),
            ]
        rows = []
        for name, shown, cmd, k, is_mor in specs:
            runs = args.tre_runs if name.startswith("tre-agrep") else args.runs
            rows.append(run_search(ctx, name, shown, cmd, k, out, runs, moravine=is_mor))
            print(f"  {name:20} {rows[-1]['time']:.3f} s", flush=True)
        out.unlink(missing_ok=True)
        table = search_table(rows)
        print("\n".join(table), flush=True)
        md += [f"### «{word}»", ""] + table + [""]
        by = {r["tool"]: r for r in rows}
        results[word] = by
        m0 = by["moravine"]
        targets += [
            target_line("target", f"search {word}: moravine >= 3x as fast as zstdcat | grep -w",
                        m0, by["zstdcat | grep -w"], 3.0),
            target_line("target", f"search {word}: moravine as fast as grep -w on the "
                        "uncompressed text", m0, by["grep -w"], 1.0),
            target_line("aim", f"search {word}: moravine as fast as rg -w on the "
                        "uncompressed text", m0, by["rg -w"], 1.0),
        ]
        for k in (1, 2):
            mk = by[f"moravine -e {k}"]
            targets += [
                target_line("target", f"search {word}: moravine -e {k} >= 3x as fast as "
                            f"ugrep -Z{k} -w", mk, by[f"ugrep -Z{k} -w"], 3.0),
                target_line("target", f"search {word}: moravine -e {k} >= 50x as fast as "
                            f"tre-agrep -{k} -w", mk, by[f"tre-agrep -{k} -w"], 50.0),
            ]
    shutil.rmtree(work, ignore_errors=True)
    md += ["### Targets", "",
           "Targets: an exact search at least 3x as fast as `zstdcat | grep -w` and no slower "
           "than `grep -w` on the uncompressed text (aim: as fast as `rg -w`); a search with "
           "1 or 2 errors at least 3x as fast as `ugrep -Z` and 50x as fast as `tre-agrep` "
           "on the uncompressed text.", "", "```"] + targets + ["```"]
    return md, targets, results


# ================================================================ folder

def tree_hashes(root):
    """{relative path: sha256} of every regular file below root, hidden ones included."""
    hashes = {}
    for dirpath, _, names in os.walk(root):
        for name in names:
            path = Path(dirpath) / name
            with open(path, "rb") as f:
                hashes[path.relative_to(root).as_posix()] = hashlib.file_digest(f, "sha256") \
                    .hexdigest()
    return hashes


def tree_files(root):
    return {(Path(d) / n).relative_to(root).as_posix() for d, _, ns in os.walk(root) for n in ns}


def expect_files(root, expected, what):
    """The folder must hold exactly the expected files (no leftover temporary files)."""
    got = tree_files(root)
    if got != expected:
        extra, missing = sorted(got - expected), sorted(expected - got)
        raise BenchError(f"{what}: {root} holds {len(extra)} unexpected file(s) "
                         f"{extra[:3]} and lacks {len(missing)} {missing[:3]}")


def expect_originals(root, orig_hashes, what):
    got = {p: h for p, h in tree_hashes(root).items() if p in orig_hashes}
    bad = sorted(p for p in orig_hashes if got.get(p) != orig_hashes[p])
    if bad:
        raise BenchError(f"{what}: {len(bad)} file(s) differ from the originals, e.g. {bad[:3]}")


def suffixed_size(root, suffix):
    return sum((root / p).stat().st_size for p in tree_files(root) if p.endswith(suffix))


def folder_moravine(ctx, jobs, orig_hashes, work):
    """compress, remove-original, decompress, remove-compressed; runs times."""
    names = set(orig_hashes)
    hwz = {p + ".hwz" for p in names}
    mor = lambda *a: measure_moravine(ctx, ["-q"] + list(a) + [str(work)])
    comp, rmo, dec = [], [], []
    for _ in range(ctx.args.runs):
        comp.append(mor("-j", str(jobs), "compress"))
        expect_files(work, names | hwz, f"moravine -j {jobs} compress")
        size = suffixed_size(work, ".hwz")
        rmo.append(mor("remove-original"))
        expect_files(work, hwz, "moravine remove-original")
        dec.append(mor("-j", str(jobs), "decompress"))
        expect_files(work, names | hwz, f"moravine -j {jobs} decompress")
        expect_originals(work, orig_hashes, f"moravine -j {jobs} round trip")
        mor("remove-compressed")
        expect_files(work, names, "moravine remove-compressed")
    return {"comp": best("c", comp), "dec": best("d", dec), "rmo": best("r", rmo), "size": size}


def folder_other(ctx, ccmd, dcmd, suffix, orig_hashes, work):
    names = set(orig_hashes)
    comp, dec = [], []
    for _ in range(ctx.args.runs):
        comp.append(measure(ccmd + [str(work)]))
        expect_files(work, {p + suffix for p in names}, " ".join(ccmd))
        size = suffixed_size(work, suffix)
        dec.append(measure(dcmd + [str(work)]))
        expect_files(work, names, " ".join(dcmd))
        expect_originals(work, orig_hashes, f"{' '.join(ccmd)} round trip")
    return {"comp": best("c", comp), "dec": best("d", dec), "rmo": None, "size": size}


def folder_section(ctx, orig, single):
    """Compress, decompress and search the folder of 416 books. Returns (md, targets)."""
    args = ctx.args
    scratch = fresh_dir(ctx.data / "folder")
    print(f"\n== folder: hashing {orig}", flush=True)
    orig_hashes = tree_hashes(orig)
    nfiles = len(orig_hashes)
    total = sum((orig / p).stat().st_size for p in orig_hashes)

    # -------- compression and decompression
    tools = [  # (name, compress shown, decompress shown, runner)
        ("moravine -j 1", "moravine -q -j 1 compress DIR",
         "moravine -q -j 1 decompress DIR", lambda w: folder_moravine(ctx, 1, orig_hashes, w)),
        ("moravine -j 2", "moravine -q -j 2 compress DIR",
         "moravine -q -j 2 decompress DIR", lambda w: folder_moravine(ctx, 2, orig_hashes, w)),
        ("gzip -6", "gzip -r -6 DIR", "gzip -r -d DIR",
         lambda w: folder_other(ctx, ["gzip", "-r", "-6"], ["gzip", "-r", "-d"], ".gz",
                                orig_hashes, w)),
        ("zstd -3", "zstd -r -3 -T1 --rm -q DIR", "zstd -r -d --rm -q DIR",
         lambda w: folder_other(ctx, ["zstd", "-r", "-3", "-T1", "--rm", "-q"],
                                ["zstd", "-r", "-d", "--rm", "-q"], ".zst", orig_hashes, w)),
    ]
    rows = []
    for name, cshown, dshown, runner in tools:
        work = scratch / name.replace(" ", "")
        shutil.copytree(orig, work)
        r = runner(work)
        shutil.rmtree(work)
        rows.append({"tool": name, "cshown": cshown, "dshown": dshown, **r})
        print(f"  {name:16} compress {r['comp']['time']:.2f} s, "
              f"decompress {r['dec']['time']:.2f} s", flush=True)
    ctable = ["| tool | compress | decompress | compressed bytes | ratio "
              "| compress s (CPU s) | MB/s | decompress s (CPU s) | MB/s | peak RSS MB "
              "| remove-original s (CPU s) |",
              "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        c, d, rmo = r["comp"], r["dec"], r["rmo"]
        ctable.append(f"| {r['tool']} | `{r['cshown']}` | `{r['dshown']}` | {r['size']} "
                      f"| {r['size'] / total:.4f} | {c['time']:.2f} ({c['cpu']:.2f}) "
                      f"| {total / MB / c['time']:.1f} | {d['time']:.2f} ({d['cpu']:.2f}) "
                      f"| {total / MB / d['time']:.1f} | {max(c['mem'], d['mem']) / MB:.1f} "
                      + (f"| {rmo['time']:.2f} ({rmo['cpu']:.2f}) |" if rmo else "| |"))
    vtable = ["| Moravine | vs | compression speed | decompression speed | compressed size |",
              "|---|---|---:|---:|---:|"]
    for m in rows[:2]:
        for o in rows[2:]:
            vtable.append(f"| {m['tool']} | {o['tool']} "
                          f"| {fmt_ratio(o['comp']['time'] / m['comp']['time'])} "
                          f"| {fmt_ratio(o['dec']['time'] / m['dec']['time'])} "
                          f"| {m['size'] / o['size']:.2f}x |")
    print("\n".join(ctable + [""] + vtable), flush=True)

    # -------- search
    print("\n== folder: search", flush=True)
    hwzdir, zstdir, out = scratch / "hwz", scratch / "zst", scratch / "out"
    shutil.copytree(orig, hwzdir)
    measure_moravine(ctx, ["-q", "compress", str(hwzdir)])
    measure_moravine(ctx, ["-q", "remove-original", str(hwzdir)])
    expect_files(hwzdir, {p + ".hwz" for p in orig_hashes}, "search folder")
    shutil.copytree(orig, zstdir)
    measure(["zstd", "-r", "-3", "-T1", "--rm", "-q", str(zstdir)])
    w = FOLDER_WORD
    specs = []
    for k in (0, 1):
        e = ["-e", "1"] if k else []
        for jobs in (None, 1, 2):
            j = ["-j", str(jobs)] if jobs else []
            name = "moravine" + (f" -j {jobs}" if jobs else "") + (" -e 1" if k else "")
            specs.append((name, shlex.join(["moravine", "-q"] + j + ["search"] + e + [w]) + " HWZDIR",
                          ["-q"] + j + ["search"] + e + [w, str(hwzdir)], k, True))
    specs += [
        ("grep -r -w", f"grep -r -w {w} ORIGDIR", ["grep", "-r", "-w", w, str(orig)], 0, False),
        ("rg -w", f"rg -w {w} ORIGDIR", ["rg", "-w", w, str(orig)], 0, False),
        ("ugrep -z -r -w", f"ugrep -z -r -w {w} ZSTDDIR",
         ["ugrep", "-z", "-r", "-w", w, str(zstdir)], 0, False),
        ("ugrep -r -Z1 -w", f"ugrep -r -Z1 -w {w} ORIGDIR",
         ["ugrep", "-r", "-Z1", "-w", w, str(orig)], 1, False),
    ]
    srows = []
    for name, shown, cmd, k, is_mor in specs:
        srows.append(run_search(ctx, name, shown, cmd, k, out, args.runs, moravine=is_mor))
        print(f"  {name:20} {srows[-1]['time']:.3f} s", flush=True)
    shutil.rmtree(scratch, ignore_errors=True)
    stable = search_table(srows)
    by = {r["tool"]: r for r in srows}
    ptable = ["| Moravine command | wall ms per file | CPU ms per file "
              "| extra wall ms per file over the one-file search |",
              "|---|---:|---:|---:|"]
    for r in srows:
        if not r["tool"].startswith("moravine"):
            continue
        one = (single or {}).get(w, {}).get("moravine -e 1" if r["errors"] else "moravine")
        extra = f"{(r['time'] - one['time']) * 1000 / nfiles:.2f}" if one else "(search not run)"
        ptable.append(f"| `{r['shown']}` | {r['time'] * 1000 / nfiles:.2f} "
                      f"| {r['cpu'] * 1000 / nfiles:.2f} | {extra} |")
        if one and r["count"] != one["count"]:
            ctx.notes.append(f"`{r['shown']}` found {r['count']} hits in the folder, "
                             f"{one['count']} in the concatenated text")
    for k in (0, 1):
        counts = {r["count"] for r in srows if r["tool"].startswith("moravine")
                  and r["errors"] == k}
        if len(counts) > 1:
            ctx.notes.append(f"moravine search with {k} errors found {sorted(counts)} hits "
                             "depending on -j")
    print("\n".join(stable + [""] + ptable), flush=True)

    targets = []
    for jobs in ("", " -j 1", " -j 2"):
        m0, m1 = by["moravine" + jobs], by[f"moravine{jobs} -e 1"]
        targets += [
            target_line("target", f"folder search: moravine{jobs} as fast as grep -r -w",
                        m0, by["grep -r -w"], 1.0),
            target_line("aim", f"folder search: moravine{jobs} as fast as rg -w",
                        m0, by["rg -w"], 1.0),
            target_line("target", f"folder search: moravine{jobs} >= 3x as fast as "
                        "ugrep -z -r -w on the zstd folder", m0, by["ugrep -z -r -w"], 3.0),
            target_line("target", f"folder search: moravine{jobs} -e 1 >= 3x as fast as "
                        "ugrep -r -Z1 -w", m1, by["ugrep -r -Z1 -w"], 3.0),
        ]
    md = ["## Folder of 416 books", "",
          f"The {nfiles} books of the Gutenberg dev set in their author folders ({total} bytes), "
          "copied afresh for each tool. Each run compresses the folder in place and decompresses "
          "it again; Moravine removes the originals with `moravine -q remove-original DIR` "
          "between the two (timed separately) and the `.hwz` files with `moravine -q "
          "remove-compressed DIR` after the check. After every decompression each file is "
          "compared with the original by SHA-256, and the folder must hold exactly the expected "
          "files. gzip and zstd run single-threaded; `moravine -j 2` handles two files at a time. "
          "Moravine writes each output through a temporary file and `fsync`s it; gzip and zstd "
          "do not sync, so the gap between wall and CPU time is larger for Moravine. Every "
          "`.hwz` file holds its own dictionary, so the folder compresses less well than the "
          "same text as one file.",
          "", "### Compression and decompression", ""] + ctable + [
          "", "Moravine vs each other tool (speed: how many times faster Moravine is; "
          "size: Moravine divided by the other tool):", ""] + vtable + [
          "", f"### Search for «{w}»", "",
          "HWZDIR holds only the `.hwz` files (`moravine -q compress` then `moravine -q "
          "remove-original`), ZSTDDIR only the `.zst` files (`zstd -r -3 -T1 --rm`), ORIGDIR "
          "the uncompressed books. `moravine` without `-j` runs as many jobs as there are "
          "cores; `rg` and `ugrep` search several files at a time too, grep one. Standard "
          "output goes to a file; found rows as in the one-file search.", ""] + stable + [
          "", "Time per file of the Moravine searches (the per-file cost of the `agrep` process "
          "and of the temporary files): wall and CPU time divided by the number of files, and "
          "how much longer than the search of the same text as one file (above) the folder "
          "takes, per file.", ""] + ptable + [
          "", "### Targets", "",
          "Targets: an exact search no slower than `grep -r -w` on the uncompressed folder "
          "(aim: as fast as `rg -w`) and at least 3x as fast as `ugrep -z -r -w` on the zstd "
          "folder; with 1 error at least 3x as fast as `ugrep -r -Z1 -w` on the uncompressed "
          "folder.", "", "```"] + targets + ["```"]
    return md, targets


# ================================================================ report

def run_text(cmd):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def first_line(cmd):
    return (run_text(cmd).splitlines() or ["unknown"])[0]


def machine_lines(ctx, built, git, loads):
    cpu = "unknown"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    mem_kb = int(Path("/proc/meminfo").read_text().split()[1])
    osname = platform.system()
    for line in Path("/etc/os-release").read_text().splitlines():
        if line.startswith("PRETTY_NAME="):
            osname = line.split("=", 1)[1].strip('"')
    commit, dirty = git
    return [
        f"- CPUs (nproc): {os.cpu_count()}",
        f"- CPU model: {cpu}",
        f"- Memory: {mem_kb / 1024 / 1024:.1f} GiB",
        f"- OS: {osname}, Linux {platform.release()}, Python {platform.python_version()}, "
        f"LANG={os.environ.get('LANG', '')}",
        f"- Moravine: `{run_text([ctx.moravine, '--version'])}`, commit {commit}"
        + (" with uncommitted changes" if dirty and dirty != "unknown" else "")
        + f", binary built {built}; its search runs our own `agrep`, copied beside it",
        f"- gzip: {first_line(['gzip', '--version'])}",
        f"- zstd: {run_text(['zstd', '--version']).strip('* ')}",
        f"- xz: {first_line(['xz', '--version'])}",
        f"- grep: {first_line(['grep', '--version'])}; ripgrep: {first_line(['rg', '--version'])}",
        f"- ugrep: {first_line(['ugrep', '--version'])}; "
        f"tre-agrep: {first_line(['tre-agrep', '--version'])}",
        "- Load average (1 min) at start and end of the run: "
        f"{loads[0]:.2f}, {loads[1]:.2f} (other work on the machine slows the wall times)",
    ]


def regenerate_command(args):
    cmd = "python3 bench/run_bench.py"
    for s in args.only or []:
        cmd += f" --only {s}"
    if args.runs != 3:
        cmd += f" --runs {args.runs}"
    if args.xz_runs != 1:
        cmd += f" --xz-runs {args.xz_runs}"
    if args.tre_runs != 1:
        cmd += f" --tre-runs {args.tre_runs}"
    if args.quick:
        cmd += " --quick"
    return cmd + f" --markdown {args.markdown}"


CODEC_PROFILE_HEADING = "## Codec profile"


def markdown(ctx, built, git, loads, sections):
    args = ctx.args
    today = datetime.date.today().isoformat()
    out = ["# Benchmarks", "",
           "Moravine compared with common tools on the same inputs in the same run: single-file "
           "compression against gzip, zstd and xz, search in a compressed file and in a "
           "compressed folder against grep, ripgrep, ugrep and tre-agrep, and folder "
           "compression against gzip and zstd. This file is generated by `bench/run_bench.py`; "
           "regenerate it after building the command line in Release mode with:", "",
           "```sh",
           "cmake -S . -B build -G Ninja -DMORAVINE_TESTS=OFF && ninja -C build moravine",
           regenerate_command(args), "```", "",
           f"Measured on {today}. Times are the best (minimum) wall-clock time of {args.runs} "
           f"runs (xz: {args.xz_runs}, tre-agrep: {args.tre_runs}) of the whole command, "
           "including process start and writing the output, followed in parentheses by the "
           "best CPU time (user + system, child processes included) of the same runs. Peak RSS "
           f"is the largest maximum resident set size over the runs, from `{TIME} -f %M`. "
           "Targets are judged on wall time; each target line also gives the ratio by CPU time.",
           "", "## Machine", ""] + machine_lines(ctx, built, git, loads)
    for md in sections:
        out += [""] + md
    out += ["", "## Oddities found during the run", ""]
    out += [f"- {n}" for n in ctx.notes] if ctx.notes else [
        "None: every round trip was exact, every search printed the same rows in every run "
        "and with every `-j`, and no Moravine command left a file in its TMPDIR."]
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--moravine", default=str(ROOT / "build/cli/moravine"),
                    help="the binary; our agrep must be beside it")
    ap.add_argument("--data", default=str(ROOT / "build/bench-data"),
                    help="scratch directory inside the build tree (default: build/bench-data)")
    ap.add_argument("--only", action="append", choices=SECTIONS,
                    help="run only this section (repeatable; default: all)")
    ap.add_argument("--runs", type=int, default=3, help="runs per measurement, best is kept")
    ap.add_argument("--xz-runs", type=int, default=1, help="runs of xz (slow; default 1)")
    ap.add_argument("--tre-runs", type=int, default=1, help="runs of tre-agrep (slow; default 1)")
    ap.add_argument("--quick", action="store_true",
                    help="single-file section: skip the 126 MB Gutenberg text")
    ap.add_argument("--markdown", metavar="FILE", help="write the whole report as Markdown")
    args = ap.parse_args()
    if min(args.runs, args.xz_runs, args.tre_runs) < 1:
        ap.error("--runs, --xz-runs and --tre-runs must be at least 1")
    sections = [s for s in SECTIONS if s in (args.only or SECTIONS)]

    moravine = Path(args.moravine).resolve()
    data = Path(args.data).resolve()
    if data.is_relative_to(ROOT) and not data.relative_to(ROOT).parts[0].startswith("build"):
        ap.error(f"{data} is inside the source tree; use a directory under build/")
    needed = {"single": ["gzip", "zstd", "xz"],
              "search": ["zstd", "grep", "rg", "ugrep", "tre-agrep"],
              "folder": ["gzip", "zstd", "grep", "rg", "ugrep"]}
    for tool in [str(moravine), str(moravine.parent / "agrep"), TIME, "sh"] \
            + sum((needed[s] for s in sections), []):
        if not shutil.which(tool):
            ap.error(f"{tool} not found (see bench/README.md)")
    data.mkdir(parents=True, exist_ok=True)

    # Measure a private copy, with our agrep beside it, so that a rebuild during
    # the run changes nothing. moravine appends its own directory to PATH, so an
    # agrep earlier on PATH would serve instead: put ours first in that case.
    built = datetime.datetime.fromtimestamp(moravine.stat().st_mtime).strftime("%Y-%m-%d %H:%M")
    for name in ("moravine", "agrep"):
        shutil.copy2(moravine.parent / name, data / name)
    tmpdir = fresh_dir(data / "tmp")
    env = {"TMPDIR": str(tmpdir)}
    if shutil.which("agrep"):
        env["PATH"] = f"{data}{os.pathsep}{os.environ.get('PATH', '')}"
        print(f"note: {shutil.which('agrep')} is on PATH; moravine runs with {data} first",
              flush=True)
    ctx = Context(moravine=str(data / "moravine"), env=env, tmpdir=tmpdir, data=data, args=args)
    git = (run_text(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"]),
           run_text(["git", "-C", str(ROOT), "status", "--porcelain", "--untracked-files=no"]))
    tmp_before = set(Path("/tmp").glob("agrep*"))
    load_start = os.getloadavg()[0]

    folder, text = gutenberg(data)
    md_sections, targets, single_search = [], [], None
    try:
        if "single" in sections:
            md, t = single_section(ctx, text)
            md_sections.append(md)
            targets += t
        if "search" in sections:
            md, t, single_search = search_section(ctx, text)
            md_sections.append(md)
            targets += t
        if "folder" in sections:
            md, t = folder_section(ctx, folder, single_search)
            md_sections.append(md)
            targets += t
    except BenchError as e:
        print(f"\nERROR: {e}", file=sys.stderr)
        return 1

    loads = (load_start, os.getloadavg()[0])
    new_tmp = sorted(str(p) for p in set(Path("/tmp").glob("agrep*")) - tmp_before)
    if new_tmp:
        ctx.notes.append(f"new /tmp entries named agrep* during the run (possibly from other "
                         f"work on the machine): {', '.join(new_tmp[:5])}")
    print(f"\nload average (1 min) at start and end: {loads[0]:.2f}, {loads[1]:.2f}")
    print("\n== Targets\n" + "\n".join(targets))
    if ctx.notes:
        print("\n== Oddities\n" + "\n".join(ctx.notes))
    if args.markdown:
        # The codec profile is measured by hand (codec_bench, callgrind) and
        # kept as it stands at the end of the file.
        kept = ""
        target = Path(args.markdown)
        if target.exists():
            old = target.read_text()
            at = old.find(CODEC_PROFILE_HEADING)
            if at >= 0:
                kept = "\n" + old[at:]
        target.write_text(markdown(ctx, built, git, loads, md_sections).rstrip("\n") + "\n" + kept)
        print(f"\nwrote {args.markdown}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
