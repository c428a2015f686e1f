#!/usr/bin/env python3
"""Benchmark line mode (`search --lines`, `-n`, `-C`) on texts that are one
long line, against grep -n on the plain text.

Each text is a single line of random words of 100, 200 and 400 KB (by
default) and a line feed; the program compresses it. The cases search it
for «ka» with two errors (a hit every few words: tens of thousands of hits
on the one line), exactly (a few thousand hits) and with two errors and one
line of context; grep -n -w searches the plain text for «ka» (grep has no
errors). Every command writes its output to a real file (grep stops at the
first match when its output is /dev/null). Times are the best wall-clock
and CPU times of --runs runs of the whole command, process start included;
peak RSS is the largest of the runs, from /usr/bin/time. A run that passes
--timeout seconds or --max-rss MB is stopped, and the table says so: line
mode that is not linear in the line's length would fill the machine.

With --before PATH a second program (an older build) is measured on the
same files (--before-runs runs, 1 by default), and both are shown.

Usage: python3 bench/lines_bench.py [--program build/cli/moravine] [--before PATH [--before-runs N]]
                                    [--sizes 100,200,400] [--runs N] [--data DIR]
                                    [--timeout S] [--max-rss MB] [--markdown FILE]
"""
import argparse
import datetime
import os
import random
import shlex
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORDS = ("the a ka of and to in that whale sea ship captain harpoon boat deck mast sail wind white ocean "
         "wave rope anchor crew is it was he his on as with at by I had be").split()


def make_line(path, kilobytes, seed=7):
    """One line of words, blanks, commas and full stops, and a line feed."""
    rnd = random.Random(seed)
    parts, n = [], 0
    while n < kilobytes * 1024:
        word, sep = rnd.choice(WORDS), rnd.choice([" "] * 8 + [", ", ". "])
        parts.append(word + sep)
        n += len(word) + len(sep)
    path.write_text("".join(parts) + "\n")


def high_water_mb(pid):
    """The peak resident set of a running process, in MB (0 when gone)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def child_of(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            children = f.read().split()
        return int(children[0]) if children else None
    except OSError:
        return None


def measure(cmd, out, timeout, max_rss):
    """(wall s, CPU s, peak RSS MB, why it was stopped or None) of one run,
    under /usr/bin/time for the peak RSS. A watcher stops the run past the
    time or the memory allowed (the peak is then the last it saw); the wait
    itself is wait4's, so that the wall time is not rounded to its polls."""
    stopped, seen = [], [0.0]
    done = threading.Event()
    with open(out, "wb") as f, tempfile.NamedTemporaryFile() as peak:
        start = time.perf_counter()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak.name] + cmd, stdout=f,
                                stderr=subprocess.DEVNULL, start_new_session=True)

        def watch():
            program = None
            while not done.wait(0.05):
                program = program or child_of(proc.pid)
                if program:
                    seen[0] = max(seen[0], high_water_mb(program))
                if time.perf_counter() - start > timeout:
                    stopped.append(f"stopped after {timeout:g} s")
                elif seen[0] > max_rss:
                    stopped.append(f"stopped above {max_rss:g} MB")
                if stopped:
                    os.killpg(proc.pid, signal.SIGKILL)
                    return

        watcher = threading.Thread(target=watch)
        watcher.start()
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        done.set()
        watcher.join()
        proc.returncode = code = os.waitstatus_to_exitcode(status)
        if stopped:
            return wall, float("nan"), seen[0], stopped[0]
        if code not in (0, 1):
            sys.exit(f"command failed (status {code}): {shlex.join(cmd)}")
        rss = int(open(peak.name).read().split()[-1]) / 1024  # KiB
    return wall, usage.ru_utime + usage.ru_stime, rss, None


def run_case(name, cmd, out, runs, timeout, max_rss):
    results = []
    for _ in range(runs):
        results.append(measure(cmd, out, timeout, max_rss))
        if results[-1][3]:
            break  # a stopped run is not repeated
    with open(out, "rb") as f:
        data = f.read()
    stopped = next((r[3] for r in results if r[3]), None)
    return {"tool": name, "shown": shlex.join([Path(cmd[0]).name] + cmd[1:]),
            "time": min(r[0] for r in results), "cpu": min(r[1] for r in results),
            "mem": max(r[2] for r in results), "runs": len(results), "stopped": stopped,
            "lines": data.count(b"\n"), "bytes": len(data)}


def cases(programs, plain, hwz):
    out = []
    for label, program in programs:
        m = [str(program), "-q", "search"]
        out += [(f"{label} -e 2 --lines", m + ["-e", "2", "--lines", "ka", str(hwz)]),
                (f"{label} -n --lines", m + ["-n", "--lines", "ka", str(hwz)]),
                (f"{label} -n -C 1 -e 2", m + ["-n", "-C", "1", "-e", "2", "ka", str(hwz)])]
    out.append(("grep -n -w", ["grep", "-n", "-w", "ka", str(plain)]))
    return out


def table(rows):
    md = ["| tool | command | wall s | CPU s | peak MB | output | runs |", "|---|---|---:|---:|---:|---:|---:|"]
    for r in rows:
        if r["stopped"]:
            cells = f"> {r['time']:.1f} ({r['stopped']}) | - | > {r['mem']:.0f} | -"
        else:
            cells = f"{r['time']:.3f} | {r['cpu']:.3f} | {r['mem']:.0f} | {r['lines']} lines, {r['bytes']} B"
        md.append(f"| {r['tool']} | `{r['shown']}` | {cells} | {r['runs']} |")
    return md


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--program", default=str(ROOT / "build/cli/moravine"))
    ap.add_argument("--before", help="an older moravine to measure on the same files")
    ap.add_argument("--before-runs", type=int, default=1, help="runs of the older program (it may be slow)")
    ap.add_argument("--sizes", default="100,200,400", help="line lengths in KB")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--data", default=str(ROOT / "build/bench-data/lines"))
    ap.add_argument("--timeout", type=float, default=300)
    ap.add_argument("--max-rss", type=float, default=4096)
    ap.add_argument("--markdown")
    args = ap.parse_args()
    program = Path(args.program).resolve()
    programs = [("moravine", program)] + ([("before", Path(args.before).resolve())] if args.before else [])
    data = Path(args.data).resolve()
    data.mkdir(parents=True, exist_ok=True)
    out = data / "lines-output.txt"
    load = os.getloadavg()
    md = ["# Line mode on one long line", "",
          f"{datetime.date.today()}; {os.cpu_count()} cores; load average at the start {load[0]:.2f}; "
          f"best of {args.runs} runs" + (f" ({args.before_runs} of the older program)" if args.before else "") +
          f"; every output written to `{out.name}`.", ""]
    for size in (int(s) for s in args.sizes.split(",")):
        plain = data / f"line{size}.txt"
        if not plain.exists():
            make_line(plain, size)
        hwz = Path(str(plain) + ".hwz")
        if not hwz.exists():
            subprocess.run([str(program), "-q", "compress", str(plain)], check=True)
        print(f"{size} KB", flush=True)
        rows = [run_case(name, cmd, out, args.before_runs if name.startswith("before") else args.runs, args.timeout,
                         args.max_rss) for name, cmd in cases(programs, plain, hwz)]
        md += ["", f"### One line of {size} KB ({plain.stat().st_size} bytes)", ""] + table(rows)
    load = os.getloadavg()
    md += ["", f"Load average at the end: {load[0]:.2f}."]
    text = "\n".join(md) + "\n"
    if args.markdown:
        Path(args.markdown).write_text(text)
    sys.stdout.write(text)


if __name__ == "__main__":
    main()
