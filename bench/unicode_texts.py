#!/usr/bin/env python3
"""Running text in several languages for the benchmarks of the Unicode models.

The texts are the HTML manuals of Debian packages, turned into plain UTF-8
text (Python's html.parser, standard library only):

  de     debian-reference-de     /usr/share/debian-reference/*.de.html
  en     debian-reference-en     /usr/share/debian-reference/*.en.html
  fr     debian-reference-fr     /usr/share/debian-reference/*.fr.html
  ja     debian-reference-ja     /usr/share/debian-reference/*.ja.html
  zh-cn  debian-reference-zh-cn  /usr/share/debian-reference/*.zh-cn.html
  ru     developers-reference-ru /usr/share/developers-reference/ru/*.html

Install them on a fresh Debian machine with

  apt-get install debian-reference-de debian-reference-en debian-reference-fr \
      debian-reference-ja debian-reference-zh-cn developers-reference-ru

The English and the four translations of the Debian Reference are the same
book; the Russian text is the Debian Developer's Reference, whose Russian
translation leaves some chapters (about a fifth of the text) in English.

Writes OUT/LANG.txt for every language (the pages of the book in the order
of their file names, each page's text once: the one-page copy of the whole
book and the search page are left out), and with --large MB also
OUT/LANG-large.txt: LANG.txt repeated until it holds at least MB megabytes
(10^6 bytes), for speed measurements. Repeated text suits timings, not
sizes: a compressor with a long window finds the copies.

Usage: python3 bench/unicode_texts.py [--out DIR] [--large MB] [--lang L ...]
"""
import argparse
import glob
import html.parser
import os
import re
import sys

SOURCES = {
    "de": ("debian-reference-de", "/usr/share/debian-reference/*.de.html"),
    "en": ("debian-reference-en", "/usr/share/debian-reference/*.en.html"),
    "fr": ("debian-reference-fr", "/usr/share/debian-reference/*.fr.html"),
    "ja": ("debian-reference-ja", "/usr/share/debian-reference/*.ja.html"),
    "zh-cn": ("debian-reference-zh-cn", "/usr/share/debian-reference/*.zh-cn.html"),
    "ru": ("developers-reference-ru", "/usr/share/developers-reference/ru/*.html"),
}
# Pages that would repeat text or hold none: the whole book on one page, the
# search form.
SKIPPED_PAGES = {"developers-reference.html", "search.html"}

# Elements whose content is not text of the book.
SKIPPED = {"head", "script", "style", "title"}
# Navigation blocks of the two page generators (DocBook, Sphinx).
SKIPPED_CLASSES = {"navheader", "navfooter", "related", "sphinxsidebar", "footer"}
# Elements that end a line.
BLOCKS = {"p", "div", "br", "li", "dt", "dd", "tr", "h1", "h2", "h3", "h4", "h5", "h6",
          "pre", "table", "blockquote", "section", "title", "hr", "ul", "ol", "dl"}
VOID = {"br", "hr", "img", "meta", "link", "input", "col", "area", "base", "wbr"}


class TextOf(html.parser.HTMLParser):
    """The text of a page: runs of blanks folded to one outside <pre>, a
    line end after every block element, no line holding only blanks."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.lines = []
        self.line = []
        self.skip_depth = 0  # open elements whose content is left out
        self.stack = []      # (tag, whether it opened a skipped stretch)
        self.pre = 0

    def end_line(self):
        text = "".join(self.line)
        if self.pre == 0:
            text = re.sub(r"[ \t\r\n\f\v]+", " ", text).strip()
        else:
            text = text.rstrip()
        if text.strip():
            self.lines.append(text)
        self.line = []

    def handle_starttag(self, tag, attrs):
        classes = set((dict(attrs).get("class") or "").split())
        skip = tag in SKIPPED or bool(classes & SKIPPED_CLASSES) or self.skip_depth > 0
        if tag in BLOCKS and self.skip_depth == 0:
            self.end_line()
        if tag in VOID:
            return
        self.stack.append((tag, skip))
        if skip:
            self.skip_depth += 1
        if tag == "pre" and not skip:
            self.pre += 1

    def handle_startendtag(self, tag, attrs):
        if tag in BLOCKS and self.skip_depth == 0:
            self.end_line()

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        # Close up to the matching element (pages are well formed; this
        # only guards against a stray end tag).
        for i in range(len(self.stack) - 1, -1, -1):
            if self.stack[i][0] == tag:
                break
        else:
            return
        while len(self.stack) > i:
            t, skip = self.stack.pop()
            if t in BLOCKS and self.skip_depth == 0:
                self.end_line()
            if t == "pre" and not skip:
                self.pre -= 1
            if skip:
                self.skip_depth -= 1

    def handle_data(self, data):
        if self.skip_depth > 0:
            return
        if self.pre > 0:
            parts = data.split("\n")
            for k, part in enumerate(parts):
                if k > 0:
                    self.end_line()
                self.line.append(part)
        else:
            self.line.append(data)

    def text(self):
        self.end_line()
        return "\n".join(self.lines) + "\n"


def pages(lang):
    package, pattern = SOURCES[lang]
    found = sorted(p for p in glob.glob(pattern) if os.path.basename(p) not in SKIPPED_PAGES)
    if not found:
        sys.exit(f"unicode_texts: no pages {pattern}: install the package {package} "
                 f"(apt-get install {package})")
    return found


def text_of(lang):
    out = []
    for page in pages(lang):
        parser = TextOf()
        with open(page, encoding="utf-8") as f:
            parser.feed(f.read())
        parser.close()
        out.append(parser.text())
    return "".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", default="build/unicode-texts", help="folder for the texts (default %(default)s)")
    ap.add_argument("--large", type=float, default=0,
                    help="also write LANG-large.txt of at least this many MB (10^6 bytes); 0: none")
    ap.add_argument("--lang", nargs="*", default=list(SOURCES), choices=list(SOURCES))
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for lang in args.lang:
        data = text_of(lang).encode("utf-8")
        path = os.path.join(args.out, f"{lang}.txt")
        with open(path, "wb") as f:
            f.write(data)
        line = f"{path}: {len(data)} bytes"
        if args.large > 0:
            copies = -(-int(args.large * 1e6) // len(data))
            large = os.path.join(args.out, f"{lang}-large.txt")
            with open(large, "wb") as f:
                for _ in range(copies):
                    f.write(data)
            line += f"; {large}: {copies * len(data)} bytes ({copies} copies)"
        print(line)


if __name__ == "__main__":
    main()
