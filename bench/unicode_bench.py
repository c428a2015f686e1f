#!/usr/bin/env python3
"""Sizes and speeds of the Unicode models (compress --unicode) on running
text in German, French, Russian, Japanese and Chinese, with English beside
them; Python 3 standard library only.

Texts: bench/unicode_texts.py (the Debian Reference and the Debian
Developer's Reference in those languages, from Debian's packages; see that
script). This script makes them when they are missing.

- Sizes, on each language's text: the .hwz file as a percentage of the text
  under the ASCII spaceless model (rule 1), the Unicode spaceless model
  (rule 3, `--unicode`), the Unicode words model (rule 2, `--unicode
  --words`, with the default pointers and with `--distance 0`) and the ASCII
  words model without pointers (rule 0), against gzip -9, gzip -6, zstd -19
  and xz -9. Every file is decoded again and compared with the text: by
  `moravine cat`, and by tools/hwz_reader.py (written from docs/FORMAT.md
  alone).
- Speeds, on each language's text repeated to about --large-mb MB, one
  thread: compression (`moravine -j 1 compress -T 1`) of both Unicode models
  (and of the ASCII spaceless model on English) against `gzip -6`;
  decompression (`moravine -j 1 cat`) against `gzip -d`; search in the
  rule-3 file of each language (a rarer and a common word: exact, `-e 1`,
  `-i`) against the same searches, for the same words in English, in the
  rule-1 file of the English text of the same size.

Every timing is of the whole command, process start included, its output
written to a real file; the median of --runs runs, wall clock and CPU (user +
system). The machine's load average is recorded at the start and the end.

Usage: python3 bench/unicode_bench.py [--markdown FILE] [--json FILE] [--runs N]
       [--large-mb MB] [--moravine PATH] [--texts DIR] [--data DIR] [--only sizes|speed|search]
"""
import argparse
import datetime
import json
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import hwz_reader  # noqa: E402
import unicode_texts  # noqa: E402

LANGS = ["de", "fr", "ru", "ja", "zh-cn", "en"]
NAMES = {"de": "German", "fr": "French", "ru": "Russian", "ja": "Japanese", "zh-cn": "Chinese", "en": "English"}
# Per language: a rarer word and a common one, each the word of the text
# (of 4 letters or more) whose frequency per MB of text comes closest to
# that of the English word, "kernel" (244 per MB) and "system" (1,155 per
# MB), where the language has one; Japanese and Chinese: the words for
# "kernel" and "system" / "command", which the Unicode model takes as
# phrases of single-code-point words. Frequencies per MB of text:
# de 241, 796; fr 234, 1373; ru 224, 497 (no Russian word comes closer);
# ja 153, 1018; zh-cn 265, 1232.
FREQ = {"en": (244, 1155), "de": (241, 796), "fr": (234, 1373), "ru": (224, 497), "ja": (153, 1018),
        "zh-cn": (265, 1232)}
WORDS = {
    "en": ("kernel", "system"),
    "de": ("dazu", "werden"),
    "fr": ("réseau", "pour"),
    "ru": ("пакеты", "пакета"),
    "ja": ("カーネル", "システム"),
    "zh-cn": ("内核", "命令"),
}
MORAVINE_MODELS = [
    ("ASCII spaceless (rule 1)", ["--spaceless"]),
    ("Unicode spaceless (rule 3)", ["--unicode"]),
    ("Unicode words, pointers every 128 bytes (rule 2)", ["--unicode", "--words"]),
    ("Unicode words, no pointers (rule 2)", ["--unicode", "--words", "--distance", "0"]),
    ("ASCII words, no pointers (rule 0)", ["--words", "--distance", "0"]),
]
OTHERS = [("gzip -9", ["gzip", "-9", "-c"], ["gzip", "-d", "-c"]),
          ("gzip -6", ["gzip", "-6", "-c"], ["gzip", "-d", "-c"]),
          ("zstd -19", ["zstd", "-19", "-T1", "-q", "-c"], ["zstd", "-d", "-q", "-c"]),
          ("xz -9", ["xz", "-9", "-T1", "-c"], ["xz", "-d", "-c"])]


def run(cmd, stdin=None, stdout=None):
    """Runs a command with standard input and output from and to files;
    gives (wall seconds, CPU seconds)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    with open(stdin or os.devnull, "rb") as i, open(stdout, "wb") if stdout else open(os.devnull, "wb") as o:
        done = subprocess.run(cmd, stdin=i, stdout=o, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode not in (0, 1) or (done.returncode == 1 and "search" not in cmd):
        sys.exit(f"unicode_bench: {' '.join(cmd)} failed: {done.stderr.decode(errors='replace')}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def timed(cmd, runs, stdin=None, stdout=None, budget=30.0):
    """The median wall and CPU seconds of `runs` runs, or of fewer when they
    take more than `budget` seconds in all (a search with millions of rows)."""
    results = []
    while len(results) < runs and (not results or sum(r[0] for r in results) < budget):
        results.append(run(cmd, stdin, stdout))
    return statistics.median(r[0] for r in results), statistics.median(r[1] for r in results)


def same(a, b):
    with open(a, "rb") as f, open(b, "rb") as g:
        while True:
            x, y = f.read(1 << 20), g.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def texts(args):
    os.makedirs(args.texts, exist_ok=True)
    for lang in LANGS:
        single = os.path.join(args.texts, f"{lang}.txt")
        large = os.path.join(args.texts, f"{lang}-large.txt")
        if not os.path.exists(single) or not os.path.exists(large) or os.path.getsize(large) < args.large_mb * 1e6:
            data = unicode_texts.text_of(lang).encode("utf-8")
            with open(single, "wb") as f:
                f.write(data)
            with open(large, "wb") as f:
                for _ in range(-(-int(args.large_mb * 1e6) // len(data))):
                    f.write(data)


def sizes(args, mv, out):
    rows = {}
    for lang in LANGS:
        text = os.path.join(args.texts, f"{lang}.txt")
        n = os.path.getsize(text)
        with open(text, "rb") as f:
            original = f.read()
        row = {"text": n}
        for name, options in MORAVINE_MODELS:
            packed = os.path.join(args.data, f"{lang}.hwz")
            run([mv, "-q", "compress", "-c", *options, text], stdout=packed)
            run([mv, "-q", "cat", packed], stdout=packed + ".out")
            with open(packed, "rb") as f:
                data = f.read()
            if not same(packed + ".out", text) or hwz_reader.read(data) != original:
                sys.exit(f"unicode_bench: {lang}: {name} does not give the text back")
            row[name] = len(data)
        for name, pack, unpack in OTHERS:
            packed = os.path.join(args.data, f"{lang}.z")
            run(pack, stdin=text, stdout=packed)
            run(unpack, stdin=packed, stdout=packed + ".out")
            if not same(packed + ".out", text):
                sys.exit(f"unicode_bench: {lang}: {name} does not give the text back")
            row[name] = os.path.getsize(packed)
        rows[lang] = row
        print(f"sizes {lang}: " + ", ".join(f"{k} {v}" for k, v in row.items()), flush=True)
    out["sizes"] = rows
    # English texts: the Unicode spaceless model against the ASCII one.
    english = {}
    samples = os.path.join(ROOT, "resources", "samples")
    for path in [os.path.join(args.texts, "en.txt")] + sorted(
            os.path.join(samples, n) for n in os.listdir(samples) if n.endswith(".txt")):
        sized = []
        for options in (["--spaceless"], ["--unicode"]):
            packed = os.path.join(args.data, "english.hwz")
            run([mv, "-q", "compress", "-c", *options, path], stdout=packed)
            sized.append(os.path.getsize(packed))
        english[os.path.relpath(path, ROOT)] = (os.path.getsize(path), *sized)
    out["english"] = english


def speed(args, mv, out):
    rows = {}
    for lang in LANGS:
        text = os.path.join(args.texts, f"{lang}-large.txt")
        row = {"text": os.path.getsize(text)}
        models = [("rule 3", ["--unicode"]), ("rule 2", ["--unicode", "--words"])]
        if lang == "en":
            models.append(("rule 1", ["--spaceless"]))
        for name, options in models:
            packed = os.path.join(args.data, f"{lang}-large.{name[-1]}.hwz")
            row[f"compress {name}"] = timed([mv, "-q", "-j", "1", "compress", "-T", "1", "-c", *options, text],
                                            args.runs, stdout=packed)
            row[f"decompress {name}"] = timed([mv, "-q", "-j", "1", "cat", packed], args.runs,
                                              stdout=packed + ".out")
            if not same(packed + ".out", text):
                sys.exit(f"unicode_bench: {lang}: {name} does not give the large text back")
            os.remove(packed + ".out")
        packed = os.path.join(args.data, f"{lang}-large.gz")
        row["gzip -6"] = timed(["gzip", "-6", "-c"], args.runs, stdin=text, stdout=packed)
        row["gzip -d"] = timed(["gzip", "-d", "-c"], args.runs, stdin=packed, stdout=packed + ".out")
        if not same(packed + ".out", text):
            sys.exit(f"unicode_bench: {lang}: gzip does not give the large text back")
        os.remove(packed + ".out")
        rows[lang] = row
        print(f"speed {lang}: " + ", ".join(f"{k} {v}" for k, v in row.items()), flush=True)
    out["speed"] = rows


def search(args, mv, out):
    rows = {}
    # The Unicode model's file of each language, the ASCII model's of English
    # (the yardstick), and the Unicode model's of English.
    for lang, rule in [(lang, "3") for lang in LANGS if lang != "en"] + [("en", "1"), ("en", "3")]:
        packed = os.path.join(args.data, f"{lang}-large.{rule}.hwz")
        if not os.path.exists(packed):
            text = os.path.join(args.texts, f"{lang}-large.txt")
            run([mv, "-q", "compress", "-c", "--spaceless" if rule == "1" else "--unicode", text], stdout=packed)
        row = {"lang": lang, "rule": int(rule), "file": os.path.getsize(packed)}
        for which, word in zip(("rare", "common"), WORDS[lang]):
            for kind, options in (("exact", []), ("-e 1", ["-e", "1"]), ("-i", ["-i"])):
                hits = os.path.join(args.data, "hits.txt")
                wall, cpu = timed([mv, "-q", "-j", "1", "search", *options, word, packed], args.runs, stdout=hits)
                with open(hits, "rb") as f:
                    rows_out = sum(1 for _ in f)
                row[f"{which} {kind}"] = (wall, cpu, rows_out)
        rows[f"{lang} rule {rule}"] = row
        print(f"search {lang} rule {rule}: " + ", ".join(f"{k} {v}" for k, v in row.items()), flush=True)
    out["search"] = rows


def pct(part, whole):
    return f"{100.0 * part / whole:.1f} %"


def markdown(out, args):
    lines = []
    add = lines.append
    m = out["machine"]
    add(f"Measured on {m['date']} with `bench/unicode_bench.py --runs {args.runs} --large-mb {args.large_mb:g}`"
        f" (commit {m['commit']}); load average (1 min) {m['load_start']:.2f} at the start and "
        f"{m['load_end']:.2f} at the end, on {m['cpus']} cores: "
        + ("a quiet machine." if max(m["load_start"], m["load_end"]) < 0.3 else
           "the machine was shared and busy with other work, so the wall times carry its noise; "
           "the CPU times beside them are steadier.")
        + " Times are the median of the runs, wall clock, with CPU (user + system) in parentheses.")
    add("")
    if "sizes" in out:
        s = out["sizes"]
        add("### Sizes (% of the text; smaller is better)")
        add("")
        add("| | " + " | ".join(NAMES[lang] for lang in LANGS) + " |")
        add("|---|" + "---:|" * len(LANGS))
        add("| text, bytes | " + " | ".join(f"{s[lang]['text']:,}" for lang in LANGS) + " |")
        for name in [n for n, _ in MORAVINE_MODELS] + [n for n, _, _ in OTHERS]:
            add(f"| {name} | " + " | ".join(pct(s[lang][name], s[lang]["text"]) for lang in LANGS) + " |")
        add("")
        add("English texts, the Unicode spaceless model (rule 3) against the ASCII one (rule 1):")
        add("")
        add("| text | bytes | rule 1 | rule 3 | rule 3 - rule 1 |")
        add("|---|---:|---:|---:|---:|")
        for path, (n, ascii_size, unicode_size) in out["english"].items():
            add(f"| `{path}` | {n:,} | {ascii_size:,} | {unicode_size:,} | {unicode_size - ascii_size:+,} bytes "
                f"({100.0 * (unicode_size - ascii_size) / ascii_size:+.3f} %) |")
        add("")
    if "speed" in out:
        s = out["speed"]
        add(f"### Compression and decompression, one thread (texts repeated to about {args.large_mb:g} MB)")
        add("")
        add("| text | size | compress rule 3 | rule 2 | gzip -6 | gzip -6 / rule 3 | gzip -6 / rule 2 "
            "| cat rule 3 | cat rule 2 | gzip -d | gzip -d / cat rule 3 |")
        add("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        for lang in LANGS:
            r = s[lang]

            def t(key):
                return f"{r[key][0]:.2f} s ({r[key][1]:.2f})"
            add(f"| {NAMES[lang]} | {r['text'] / 1e6:.1f} MB | {t('compress rule 3')} | {t('compress rule 2')} | "
                f"{t('gzip -6')} | {r['gzip -6'][0] / r['compress rule 3'][0]:.1f}x | "
                f"{r['gzip -6'][0] / r['compress rule 2'][0]:.1f}x | {t('decompress rule 3')} | "
                f"{t('decompress rule 2')} | {t('gzip -d')} | {r['gzip -d'][0] / r['decompress rule 3'][0]:.1f}x |")
        if "compress rule 1" in s["en"]:
            r = s["en"]
            add("")
            add(f"English under the ASCII spaceless model (rule 1): compression {r['compress rule 1'][0]:.2f} s "
                f"({r['compress rule 1'][1]:.2f}), `cat` {r['decompress rule 1'][0]:.2f} s "
                f"({r['decompress rule 1'][1]:.2f}).")
        add("")
    if "search" in out:
        s = out["search"]
        en = s["en rule 1"]
        add("### Search, one job: each language's file under the Unicode model (rule 3) against the English "
            "text's under the ASCII model (rule 1), of the same size")
        add("")
        add("Words (frequency per MB of text): " + "; ".join(
            f"{NAMES[lang]} «{WORDS[lang][0]}» ({FREQ[lang][0]:,}), «{WORDS[lang][1]}» ({FREQ[lang][1]:,})"
            for lang in LANGS) + ". Each cell: median wall time (CPU), the rows printed, and the time as a "
            "multiple of the same search on the English file under the ASCII model.")
        add("")
        add("| file | size | " + " | ".join(f"{w} {k}" for w in ("rarer", "common") for k in ("exact", "-e 1", "-i"))
            + " |")
        add("|---|---:|" + "---:|" * 6)
        for key, r in s.items():
            cells = []
            for w in ("rare", "common"):
                for k in ("exact", "-e 1", "-i"):
                    wall, cpu, n = r[f"{w} {k}"]
                    ratio = "" if r is en else f", {wall / en[f'{w} {k}'][0]:.2f}x"
                    cells.append(f"{wall:.3f} s ({cpu:.3f}), {n:,} rows{ratio}")
            add(f"| {NAMES[r['lang']]}, rule {r['rule']} | {r['file'] / 1e6:.1f} MB | " + " | ".join(cells) + " |")
        add("")
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--moravine", default=os.path.join(ROOT, "build", "cli", "moravine"))
    ap.add_argument("--texts", default=os.path.join(ROOT, "build", "unicode-texts"))
    ap.add_argument("--data", default=os.path.join(ROOT, "build", "unicode-bench"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--large-mb", type=float, default=64)
    ap.add_argument("--only", action="append", choices=["sizes", "speed", "search"])
    ap.add_argument("--markdown", help="write the results as Markdown to this file")
    ap.add_argument("--json", help="write the raw results to this file")
    args = ap.parse_args()
    for tool in ("gzip", "zstd", "xz"):
        if shutil.which(tool) is None:
            sys.exit(f"unicode_bench: {tool} is missing (scripts/setup installs it)")
    os.makedirs(args.data, exist_ok=True)
    # A copy of the program, and of the agrep that its search runs, so that
    # a rebuild during the run does not mix two versions.
    mv = os.path.join(args.data, "moravine")
    shutil.copy2(args.moravine, mv)
    shutil.copy2(os.path.join(os.path.dirname(os.path.dirname(args.moravine)), "tools", "agrep", "agrep"),
                 os.path.join(args.data, "agrep"))
    texts(args)
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    out = {"machine": {"date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
                       "commit": commit, "cpus": os.cpu_count(), "load_start": os.getloadavg()[0],
                       "python": platform.python_version()}}
    only = args.only or ["sizes", "speed", "search"]
    if "sizes" in only:
        sizes(args, mv, out)
    if "speed" in only:
        speed(args, mv, out)
    if "search" in only:
        search(args, mv, out)
    out["machine"]["load_end"] = os.getloadavg()[0]
    text = markdown(out, args)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(text)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(out, f, indent=1)
    print(text)


if __name__ == "__main__":
    main()
