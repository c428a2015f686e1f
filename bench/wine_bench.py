#!/usr/bin/env python3
"""moravine.exe under Wine against the Linux moravine of the same commit:
compress, decompress and search times and peak memory, on a text made of
the in-repo samples (resources/samples) and on those samples as a folder.

  python3 bench/wine_bench.py --linux build/cli/moravine \
      --windows build-windows/cli/moravine.exe --wineprefix build-windows/wine

Prints a Markdown section. Times are the best wall time of --runs runs of
the whole command (process start included; under Wine the Wine server and
its system programs are kept running, as scripts/build-windows does), CPU
is user + system time of the same best run, peak is the largest maximum
resident set size over the runs (/usr/bin/time -f %M; under Wine that of
the wine64 process, Wine's own libraries included). Every command must
succeed (every search finds something).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "resources", "samples")


def timed(command, cwd, env):
    """Runs the command under /usr/bin/time; (wall s, cpu s, peak KiB)."""
    with tempfile.NamedTemporaryFile("r") as report, tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%U %S %M", *command], cwd=cwd, env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
        wall = time.perf_counter() - start
        if r.returncode != 0:
            err.seek(0)
            sys.exit(f"{command} failed ({r.returncode}): {err.read().decode(errors='replace')}")
        user, system, peak = report.read().split()[-3:]
    return wall, float(user) + float(system), int(peak)


def best(command, cwd, env, runs, before=None):
    results = []
    for _ in range(runs):
        if before:
            before()
        results.append(timed(command, cwd, env))
    wall, cpu, _ = min(results)
    return wall, cpu, max(r[2] for r in results)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--linux", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--wineprefix", required=True)
    parser.add_argument("--copies", type=int, default=40, help="copies of the samples in the one text")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    linux = os.path.abspath(args.linux)
    exe = os.path.abspath(args.windows)
    env = dict(os.environ, WINEPREFIX=os.path.abspath(args.wineprefix), WINEDEBUG="-all")
    wine = "/usr/lib/wine/wine64"
    subprocess.run(["/usr/lib/wine/wineserver64", "-p60"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wine, exe, "--version"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)

    names = sorted(n for n in os.listdir(SAMPLES) if n.endswith(".txt"))
    work = tempfile.mkdtemp(prefix="moravine-wine-bench-")
    try:
        text = b"".join(open(os.path.join(SAMPLES, n), "rb").read() for n in names) * args.copies
        systems = {"Linux": [linux], "Windows (Wine)": [wine, exe]}
        rows = []
        for system, program in systems.items():
            d = os.path.join(work, system.split()[0])
            os.makedirs(os.path.join(d, "folder"))
            with open(os.path.join(d, "text.txt"), "wb") as f:
                f.write(text)
            for n in names:
                shutil.copy(os.path.join(SAMPLES, n), os.path.join(d, "folder"))
            subprocess.run([*program, "-q", "compress", "folder"], cwd=d, env=env, check=True,
                           stdin=subprocess.DEVNULL)
            hwz = os.path.join(d, "text.txt.hwz")

            def drop_hwz():
                if os.path.exists(hwz):
                    os.remove(hwz)

            cases = [
                ("compress, spaceless, 1 thread", ["-q", "-j", "1", "compress", "-T", "1", "text.txt"], drop_hwz),
                ("compress, words, 1 thread", ["-q", "-j", "1", "compress", "--words", "-T", "1", "text.txt"],
                 drop_hwz),
                ("compress, spaceless, 2 threads", ["-q", "compress", "-T", "2", "text.txt"], drop_hwz),
                (None, ["-q", "compress", "-T", "1", "text.txt"], drop_hwz),
                ("decompress", ["-q", "decompress", "-f", "text.txt.hwz"], None),
                ("search «Iago», exact", ["-q", "search", "-c", "Iago", "text.txt.hwz"], None),
                ("search «tendrils», 1 error", ["-q", "search", "-c", "-e", "1", "tendrils", "text.txt.hwz"], None),
                ("search «the», exact (many rows)", ["-q", "search", "the", "text.txt.hwz"], None),
                ("search a folder of 5 files, «love», 1 error", ["-q", "search", "-e", "1", "love", "folder"], None),
                ("start only (`--version`)", ["--version"], None),
            ]
            for label, command, before in cases:
                if label is None:  # makes the file that the next cases read
                    before()
                    subprocess.run([*program, *command], cwd=d, env=env, check=True, stdin=subprocess.DEVNULL)
                    continue
                rows.append((label, system, best([*program, *command], d, env, args.runs, before)))
        print(f"Text: the {len(names)} sample texts, {args.copies} times over: {len(text):,} bytes; "
              f"folder: the {len(names)} samples, each compressed on its own. Best of {args.runs} runs.\n")
        print("| command | Linux wall s (CPU s) | Wine wall s (CPU s) | Wine / Linux | Linux peak MB | Wine peak MB |")
        print("|---|---:|---:|---:|---:|---:|")
        by_label = {}
        for label, system, result in rows:
            by_label.setdefault(label, {})[system] = result
        for label, results in by_label.items():
            (lw, lc, lp), (ww, wc, wp) = results["Linux"], results["Windows (Wine)"]
            ratio = f"{ww / lw:.1f}x" if lw > 0 else "-"
            print(f"| {label} | {lw:.3f} ({lc:.3f}) | {ww:.3f} ({wc:.3f}) | {ratio} | {lp / 1024:.0f} | "
                  f"{wp / 1024:.0f} |")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
