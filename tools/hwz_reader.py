#!/usr/bin/env python3
"""An independent reader of .hwz files, written from docs/FORMAT.md alone
(Python 3 standard library only): it decodes files of parsing rules 0 to 3
with every check that document lists, and is the proof that the document is
complete.

Usage: hwz_reader.py FILE.hwz [-o OUT]   (the text to OUT, default standard output)

Exit status 1, with the reason on standard error, for a file it refuses.
The Unicode categories come from Python's unicodedata, whose version of
Unicode may be older than the program's; texts without code points new to
the program's version decode the same.
"""
import re
import struct
import sys
import unicodedata
import zlib


class Refused(Exception):
    pass


WORD_CATEGORIES = {"Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Mc", "Me", "Nd", "Nl", "No"}
SINGLE_BLOCKS = [(0x0E00, 0x0E7F), (0x0E80, 0x0EFF), (0x1000, 0x109F), (0x1780, 0x17FF), (0x19E0, 0x19FF),
                 (0x3005, 0x3007), (0x3021, 0x3029), (0x3038, 0x303B), (0x3040, 0x309F), (0x30A0, 0x30FF),
                 (0x31F0, 0x31FF), (0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xA9E0, 0xA9FF), (0xAA60, 0xAA7F),
                 (0xF900, 0xFAFF), (0xFF66, 0xFF9F), (0x1B000, 0x1B16F), (0x20000, 0x323AF)]
SEPARATOR, WORD, SINGLE = 0, 1, 2
# Well-formed UTF-8: the lead byte's range and the ranges of the bytes after it.
UTF8 = [((0xC2, 0xDF), [(0x80, 0xBF)]), ((0xE0, 0xE0), [(0xA0, 0xBF), (0x80, 0xBF)]),
        ((0xE1, 0xEC), [(0x80, 0xBF)] * 2), ((0xED, 0xED), [(0x80, 0x9F), (0x80, 0xBF)]),
        ((0xEE, 0xEF), [(0x80, 0xBF)] * 2), ((0xF0, 0xF0), [(0x90, 0xBF), (0x80, 0xBF), (0x80, 0xBF)]),
        ((0xF1, 0xF3), [(0x80, 0xBF)] * 3), ((0xF4, 0xF4), [(0x80, 0x8F), (0x80, 0xBF), (0x80, 0xBF)])]


def character(b, i):
    """The class and byte length of the Unicode-rule character at b[i]."""
    c = b[i]
    if c < 0x80:
        return (WORD if chr(c).isalnum() else SEPARATOR), 1
    for (lo, hi), rest in UTF8:
        if lo <= c <= hi:
            tail = b[i + 1:i + 1 + len(rest)]
            if len(tail) == len(rest) and all(a <= x <= z for x, (a, z) in zip(tail, rest)):
                cp = ord(b[i:i + 1 + len(rest)].decode("utf-8"))
                if unicodedata.category(chr(cp)) not in WORD_CATEGORIES:
                    return SEPARATOR, 1 + len(rest)
                single = any(a <= cp <= z for a, z in SINGLE_BLOCKS)
                return (SINGLE if single else WORD), 1 + len(rest)
            break
    return SEPARATOR, 1  # a byte where no well-formed sequence starts


def ascii_class(c):
    return WORD if (0x30 <= c <= 0x39 or 0x41 <= c <= 0x5A or 0x61 <= c <= 0x7A) else SEPARATOR


def token_length(b, i, unicode):
    """The length of the token at b[i] under the rule's tokenizer."""
    if b[i] == 0x0A:
        return 1
    if not unicode:
        first = ascii_class(b[i])
        j = i + 1
        while j < len(b) and b[j] != 0x0A and ascii_class(b[j]) == first:
            j += 1
        return j - i
    first, j = character(b, i)
    if first == SINGLE:
        return j
    j += i
    while j < len(b) and b[j] != 0x0A:
        cls, k = character(b, j)
        if cls != first:
            break
        j += k
    return j - i


def canonical(n, count):
    """The canonical code table: (max_cw_length, First_cw[1..4], Offset[1..4]), index 0 unused."""
    fill = n - n % 127 + 129
    top = max([l for l in range(1, 5) if count[l] > 0], default=1)
    first, offset = [0] * 5, [0] * 5
    start = 128 - n % 127
    for l in range(top - 1, 0, -1):
        offset[l] = offset[l + 1] + count[l + 1]
        base = start if l + 1 == top else first[l + 1]
        first[l] = (base + count[l + 1]) // 128
    first[top] = 0
    for l in range(1, 5):
        if count[l] == 0:
            offset[l] = fill
    return top, first, offset


def read(data):
    """The text of a .hwz file, or Refused."""
    if not data:
        raise Refused("empty file")
    rule = data[0]
    if rule not in (0, 1, 2, 3):
        raise Refused(f"unknown parsing rule {rule}")
    unicode, spaceless = rule >= 2, rule in (1, 3)
    trailer = 4 if unicode else 0

    def int32(at):
        if at + 4 > len(data):
            raise Refused("the file's length does not add up")
        return struct.unpack_from(">i", data, at)[0]

    if len(data) < 49:
        raise Refused("the file's length does not add up")
    text_length, n = int32(1), int32(5)
    table = [int32(9 + 4 * k) for k in range(9)]
    max_cw, first, offset = table[0], [0] + table[1::2], [0] + table[2::2]
    p = int32(45)
    if p < 0 or 49 + 8 * p > len(data):
        raise Refused("the file's length does not add up")
    pairs = [struct.unpack_from(">ii", data, 49 + 8 * k) for k in range(p)]
    d_at = 49 + 8 * p
    d = int32(d_at)
    if d < 0 or d_at + 4 + d + 4 > len(data):
        raise Refused("the file's length does not add up")
    string = data[d_at + 4:d_at + 4 + d]
    b = int32(d_at + 4 + d)
    body_at = d_at + 8 + d
    if b < 0 or body_at + b + trailer != len(data):
        raise Refused("the file's length does not add up")
    body = data[body_at:body_at + b]

    # The dictionary string: each token runs to the first line feed after its own first byte.
    if n < 0 or 2 * n > d:
        raise Refused("num tokens in dictionary")
    tokens, pos = [], 0
    while pos < d:
        end = string.find(b"\n", pos + 1)
        if end < 0:
            raise Refused("dictionary string does not end with a newline")
        tokens.append(string[pos:end])
        pos = end + 1
    if len(tokens) != n:
        raise Refused("num tokens in dictionary")

    # The code table: counts from the offsets, then the canonical table for them.
    fill, count, end = n - n % 127 + 129, [0] * 5, n
    for l in range(1, 5):
        if offset[l] == fill:
            continue
        if not 0 <= offset[l] <= end:
            raise Refused("damaged code table")
        count[l], end = end - offset[l], offset[l]
    if end != 0 or canonical(n, count) != (max_cw, first, offset):
        raise Refused("damaged code table")
    if any(count[l] > 0 and first[l] + count[l] > 128 ** l for l in range(1, 5)):
        raise Refused("damaged code table: more codewords than a length holds")

    for r, t in enumerate(tokens):
        # Under rules 2 and 3 the checksum guards the text; their tokens are
        # only checked to be lines, whatever Unicode version cut them.
        fits = b"\n" not in t if unicode else t[0] != 0x0A and token_length(t, 0, unicode) == len(t)
        if not (t == b"\n" or fits):
            raise Refused(f"dictionary token {r} is not a token of any text")

    def takes_blank(t):
        return (character(t, 0)[0] if unicode else ascii_class(t[0])) == WORD

    implied = spaceless and b" " in tokens
    # Decoding: a codeword per tagged byte; its rank from the table.
    if b and body[0] < 0x80:
        raise Refused("not a tagged byte")
    decoded, out, length, after_word = {}, [], 0, False
    starts = {}  # body position of each codeword -> text position of its token, where a pair needs it
    wanted = {body_pos for _, body_pos in pairs}
    for m in re.finditer(rb"[\x80-\xff][\x00-\x7f]*", body):
        cw = m.group()
        if m.start() in wanted:
            starts[m.start()] = length
        hit = decoded.get(cw)
        if hit is None:
            l = len(cw)
            if l > 4:
                raise Refused("codeword longer than 4 bytes")
            v = cw[0] & 0x7F
            for c in cw[1:]:
                v = v * 128 + c
            if not 0 <= v - first[l] < count[l]:
                raise Refused("codeword outside its length's range")
            t = tokens[offset[l] + v - first[l]]
            hit = decoded[cw] = (t, implied and takes_blank(t))
        t, word = hit
        if word and after_word:
            out.append(b" ")
            length += 1
        after_word = word
        out.append(t)
        length += len(t)
        if length > text_length:
            raise Refused(f"body decodes to more than the {text_length} bytes of text the header states")
    text = b"".join(out)
    if len(text) != text_length:
        raise Refused(f"body decodes to {len(text)} bytes of text, the header states {text_length}")
    # The pointers: strictly increasing, each at a codeword's start and its token's text position.
    if pairs and spaceless:
        raise Refused(f"a spaceless file holds {p} pointers")
    for k, (text_pos, body_pos) in enumerate(pairs):
        increasing = k == 0 or (text_pos > pairs[k - 1][0] and body_pos > pairs[k - 1][1])
        if not increasing or starts.get(body_pos) != text_pos:
            raise Refused(f"pointer {k} (text {text_pos}, body {body_pos}) does not match the body")
    if unicode:
        stated = struct.unpack_from(">I", data, len(data) - 4)[0]
        if zlib.crc32(text) != stated:
            raise Refused(f"the text's CRC-32 is {zlib.crc32(text):08x}, the file states {stated:08x}")
    return text


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "-o"):
        sys.exit(__doc__)
    with open(argv[1], "rb") as f:
        data = f.read()
    try:
        text = read(data)
    except Refused as why:
        sys.exit(f"hwz_reader: {argv[1]}: {why}")
    if len(argv) == 4:
        with open(argv[3], "wb") as f:
            f.write(text)
    else:
        sys.stdout.buffer.write(text)


if __name__ == "__main__":
    main(sys.argv)
