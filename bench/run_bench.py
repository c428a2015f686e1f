#!/usr/bin/env python3
"""Compare Moravine with gzip -6, zstd -3 and xz -6: size, speed and peak memory.

Every tool runs single-threaded on the same inputs in the same run. Timings are
the best (minimum) wall-clock time of N runs; peak memory is the maximum
resident set size reported by /usr/bin/time. Every round trip is checked byte
for byte; a mismatch or a failing command ends the run with a non-zero status.

Usage: python3 bench/run_bench.py [--runs N] [--quick] [--markdown docs/BENCHMARKS.md]
"""
import argparse
import datetime
import os
import platform
import shutil
import subprocess
import sys
import tarfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORPUS = Path("/work/shared/corpus")
GUTENBERG_TAR = CORPUS / "gutenberg-dev.tar.xz"
TIME = "/usr/bin/time"

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
TOOL_ENV_VARS = ["GZIP", "ZSTD_CLEVEL", "ZSTD_NBTHREADS", "XZ_OPT", "XZ_DEFAULTS"]

MB = 1e6


class BenchError(Exception):
    pass


def measure(cmd, stdin=None, stdout=None):
    """Run cmd once; return (wall seconds, peak RSS in bytes)."""
    env = {k: v for k, v in os.environ.items() if k not in TOOL_ENV_VARS}
    fin = open(stdin, "rb") if stdin else subprocess.DEVNULL
    fout = open(stdout, "wb") if stdout else subprocess.DEVNULL
    try:
        start = time.perf_counter()
        proc = subprocess.run([TIME, "-f", "%M"] + cmd, stdin=fin, stdout=fout,
                              stderr=subprocess.PIPE, env=env)
        elapsed = time.perf_counter() - start
    finally:
        for f in (fin, fout):
            if f is not subprocess.DEVNULL:
                f.close()
    err = proc.stderr.decode(errors="replace")
    if proc.returncode != 0:
        raise BenchError(f"command failed (status {proc.returncode}): {' '.join(cmd)}\n{err}")
    # /usr/bin/time prints the peak RSS in KiB as the last line of stderr.
    return elapsed, int(err.split()[-1]) * 1024


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


def bench_other(name, ccmd, dcmd, src, work, runs):
    packed, unpacked = work / "packed", work / "unpacked"
    ctimes, dtimes, cmem, dmem = [], [], 0, 0
    for _ in range(runs):
        t, m = measure(ccmd, stdin=src, stdout=packed)
        ctimes.append(t)
        cmem = max(cmem, m)
    for _ in range(runs):
        t, m = measure(dcmd, stdin=packed, stdout=unpacked)
        dtimes.append(t)
        dmem = max(dmem, m)
        if not same_bytes(src, unpacked):
            raise BenchError(f"{name}: round trip of {src} differs from the original")
    return result(name, src, packed, ctimes, dtimes, cmem, dmem)


def bench_moravine(moravine, name, args, src, work, runs):
    # Moravine writes FILE.hwz next to FILE, and FILE next to FILE.hwz:
    # compress a link to the input inside the scratch dir, decompress a copy.
    link = work / src.name
    link.symlink_to(src)
    packed = work / (src.name + ".hwz")
    dec_dir = work / "dec"
    dec_dir.mkdir()
    unpacked = dec_dir / src.name
    ctimes, dtimes, cmem, dmem = [], [], 0, 0
    for _ in range(runs):
        packed.unlink(missing_ok=True)
        t, m = measure([moravine, "compress"] + args + [str(link)])
        ctimes.append(t)
        cmem = max(cmem, m)
    shutil.copyfile(packed, dec_dir / packed.name)
    for _ in range(runs):
        unpacked.unlink(missing_ok=True)
        t, m = measure([moravine, "decompress", str(dec_dir / packed.name)])
        dtimes.append(t)
        dmem = max(dmem, m)
        if not same_bytes(src, unpacked):
            raise BenchError(f"{name}: round trip of {src} differs from the original")
    return result(name, src, packed, ctimes, dtimes, cmem, dmem)


def result(name, src, packed, ctimes, dtimes, cmem, dmem):
    return {"tool": name, "size": os.path.getsize(packed), "orig": os.path.getsize(src),
            "ctime": min(ctimes), "dtime": min(dtimes), "cmem": cmem, "dmem": dmem}


def gutenberg_text(data):
    """Unpack the Gutenberg tarball once and cache the sorted concatenation."""
    out = data / "gutenberg-dev.txt"
    if out.exists():
        return out
    root = data / "gutenberg"
    if root.exists():
        shutil.rmtree(root)
    print(f"unpacking {GUTENBERG_TAR} into {root} ...", flush=True)
    with tarfile.open(GUTENBERG_TAR) as tar:
        tar.extractall(root, filter="data")
    files = sorted(p.relative_to(root).as_posix() for p in root.rglob("*") if p.is_file())
    tmp = out.with_suffix(".tmp")
    with open(tmp, "wb") as w:
        for rel in files:
            with open(root / rel, "rb") as r:
                shutil.copyfileobj(r, w, 1 << 20)
    tmp.rename(out)
    print(f"concatenated {len(files)} files into {out} ({out.stat().st_size} bytes)", flush=True)
    return out


def fmt_ratio(x):
    return f"{x:.2f}x" if x < 10 else f"{x:.1f}x"


def input_table(rows):
    lines = ["| tool | compressed bytes | ratio | compress s | MB/s | decompress s | MB/s "
             "| peak RSS compress MB | peak RSS decompress MB |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for r in rows:
        o = r["orig"]
        lines.append(f"| {r['tool']} | {r['size']} | {r['size'] / o:.4f} | {r['ctime']:.3f} "
                     f"| {o / MB / r['ctime']:.1f} | {r['dtime']:.3f} | {o / MB / r['dtime']:.1f} "
                     f"| {r['cmem'] / MB:.1f} | {r['dmem'] / MB:.1f} |")
    return lines


def versus_table(rows):
    """Moravine vs each other tool: >1x speed means Moravine is faster."""
    lines = ["| Moravine model | vs | compression speed | decompression speed "
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


def target_lines(rows):
    by = {r["tool"]: r for r in rows}
    gz, zs = by["gzip -6"], by["zstd -3"]
    lines = []
    for name, _ in MORAVINE_MODELS:
        m = by[name]
        peak = max(m["cmem"], m["dmem"])
        checks = [
            ("target", "compression >= 5x as fast as gzip -6", gz["ctime"] / m["ctime"], 5.0, "x"),
            ("aim", "compression as fast as zstd -3", zs["ctime"] / m["ctime"], 1.0, "x"),
            ("target", "decompression >= 3x as fast as gzip -d", gz["dtime"] / m["dtime"], 3.0, "x"),
            ("aim", "decompression as fast as zstd -d", zs["dtime"] / m["dtime"], 1.0, "x"),
        ]
        for kind, what, got, need, unit in checks:
            verdict = "PASS" if got >= need else "MISS"
            lines.append(f"{verdict}  [{kind}] {name}: {what}: measured {got:.2f}{unit}")
        ratio = peak / m["orig"]
        verdict = "PASS" if ratio <= 2.0 else "MISS"
        lines.append(f"{verdict}  [target] {name}: peak memory <= 2x input size: "
                     f"measured {peak / MB:.1f} MB = {ratio:.2f}x input")
    return lines


def run_text(cmd):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def machine_lines(moravine, built):
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
    commit = run_text(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"])
    dirty = run_text(["git", "-C", str(ROOT), "status", "--porcelain", "--untracked-files=no"])
    return [
        f"- CPUs (nproc): {os.cpu_count()}",
        f"- CPU model: {cpu}",
        f"- Memory: {mem_kb / 1024 / 1024:.1f} GiB",
        f"- OS: {osname}, Linux {platform.release()}, Python {platform.python_version()}",
        f"- Moravine: `{run_text([moravine, '--version'])}`, commit {commit}"
        + (" with uncommitted changes" if dirty and dirty != "unknown" else "")
        + f", binary built {built}",
        f"- gzip: {run_text(['gzip', '--version']).splitlines()[0]}",
        f"- zstd: {run_text(['zstd', '--version']).strip('* ')}",
        f"- xz: {run_text(['xz', '--version']).splitlines()[0]}",
    ]


def command_lines():
    lines = [f"- {name}: `moravine compress {' '.join(args)} FILE` then "
             f"`moravine decompress FILE.hwz` (on a copy of FILE.hwz in its own directory)"
             for name, args in MORAVINE_MODELS]
    lines += [f"- {name}: `{' '.join(c)} < FILE > FILE.z` then `{' '.join(d)} < FILE.z > FILE.out`"
              for name, c, d in OTHER_TOOLS]
    lines.append(f"- each command runs under `{TIME} -f %M` for peak RSS; wall time is measured "
                 "around it; all files are read from and written to the scratch directory's "
                 "file system (inputs are in the page cache)")
    return lines


def markdown(args, moravine, built, results, targets):
    today = datetime.date.today().isoformat()
    cmd = "python3 bench/run_bench.py" + ("" if args.runs == 3 else f" --runs {args.runs}") \
        + (" --quick" if args.quick else "") + f" --markdown {args.markdown}"
    out = ["# Benchmarks", "",
           "Moravine compared with gzip -6, zstd -3 and xz -6 on the same inputs in the same run, "
           "all single-threaded. This file is generated by `bench/run_bench.py`; regenerate it "
           "after building the command line in Release mode with:", "",
           "```sh",
           "cmake -S . -B build -G Ninja -DMORAVINE_TESTS=OFF && ninja -C build",
           cmd, "```", "",
           f"Measured on {today}. Times are the best (minimum) wall-clock time of {args.runs} runs, "
           "including process start and writing the output file; MB/s is original megabytes "
           "(10^6 bytes) per second, for compression and decompression alike. Peak RSS is the "
           "largest maximum resident set size over the runs. Ratio is compressed/original. "
           "Every round trip was checked byte for byte.", "",
           "## Machine", ""] + machine_lines(moravine, built) + ["", "## Commands", ""] + command_lines()
    for label, rows in results:
        out += ["", f"## {label}", ""] + input_table(rows)
        out += ["", "Moravine vs each other tool (speed: how many times faster Moravine is; "
                "size and memory: Moravine divided by the other tool):", ""] + versus_table(rows)
    if targets:
        out += ["", "## Targets on the 126 MB Gutenberg text", "",
                "Targets: compression at least 5x as fast as gzip -6 (aim: as fast as zstd -3); "
                "decompression at least 3x as fast as gzip -d (aim: as fast as zstd -d); "
                "peak memory at most twice the input size.", "", "```"] + targets + ["```"]
    else:
        out += ["", "The 126 MB Gutenberg text was skipped (`--quick`); no target lines."]
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--moravine", default=str(ROOT / "build/cli/moravine"))
    ap.add_argument("--data", default=str(ROOT / "build/bench-data"),
                    help="scratch directory inside the build tree (default: build/bench-data)")
    ap.add_argument("--runs", type=int, default=3, help="runs per measurement, best is kept")
    ap.add_argument("--quick", action="store_true", help="skip the 126 MB Gutenberg text")
    ap.add_argument("--markdown", metavar="FILE", help="write the whole report as Markdown")
    args = ap.parse_args()
    if args.runs < 1:
        ap.error("--runs must be at least 1")

    moravine = str(Path(args.moravine).resolve())
    data = Path(args.data).resolve()
    if data.is_relative_to(ROOT) and not data.relative_to(ROOT).parts[0].startswith("build"):
        ap.error(f"{data} is inside the source tree; use a directory under build/")
    for tool in [moravine, TIME, "gzip", "zstd", "xz"]:
        if not shutil.which(tool):
            ap.error(f"{tool} not found (build Moravine first, see bench/README.md)")
    data.mkdir(parents=True, exist_ok=True)
    # Measure a private copy, so that a rebuild during the run changes nothing.
    built = datetime.datetime.fromtimestamp(os.path.getmtime(moravine)).strftime("%Y-%m-%d %H:%M")
    shutil.copy2(moravine, data / "moravine")
    moravine = str(data / "moravine")

    inputs = [("bible.txt (Canterbury)", CORPUS / "canterbury/bible.txt"),
              ("world192.txt (Canterbury)", CORPUS / "canterbury/world192.txt")]
    if not args.quick:
        inputs.append(("Gutenberg dev set, 416 books concatenated", gutenberg_text(data)))

    results, targets = [], []
    try:
        for label, src in inputs:
            label = f"{label}: {src.stat().st_size} bytes"
            print(f"\n== {label}", flush=True)
            same_bytes(src, src)  # bring the input into the page cache
            rows = []
            for name, margs in MORAVINE_MODELS:
                work = data / "work"
                shutil.rmtree(work, ignore_errors=True)
                work.mkdir()
                rows.append(bench_moravine(moravine, name, margs, src, work, args.runs))
                print(f"  {name:22} done", flush=True)
            for name, c, d in OTHER_TOOLS:
                work = data / "work"
                shutil.rmtree(work, ignore_errors=True)
                work.mkdir()
                rows.append(bench_other(name, c, d, src, work, args.runs))
                print(f"  {name:22} done", flush=True)
            shutil.rmtree(data / "work", ignore_errors=True)
            results.append((label, rows))
            print("\n".join(input_table(rows) + [""] + versus_table(rows)), flush=True)
            if src.name == "gutenberg-dev.txt":
                targets = target_lines(rows)
    except BenchError as e:
        print(f"\nERROR: {e}", file=sys.stderr)
        return 1

    if targets:
        print("\n== Targets on the 126 MB Gutenberg text\n" + "\n".join(targets))
    if args.markdown:
        Path(args.markdown).write_text(markdown(args, moravine, built, results, targets))
        print(f"\nwrote {args.markdown}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
