#!/usr/bin/env python3
"""Writes machine programs for the benchmark.

Shapes:
  realistic  moves (N.. G1 X.. Y.. Z.. F..) with an M104 / G4 / M80 / M81
             block about every 200 lines and a few comments with non-ASCII
             letters
  m80        one header line, then only "M80" lines (no "M104" to take)
  triple     one header line, then "M104", "M80", "M81" repeated
  nested     one header line, N "M104" lines, then N pairs "M80", "M81"

Encodings: cp1252 (no mark), utf8 (with its mark), utf16le (with its mark).
Line ends: crlf, lf, mixed (CR LF, LF and lone CR in turn).

The size is the target in bytes (the file ends at the last whole line that
fits) or, with --lines, a count of repeated lines after the header.

Usage: generate.py SHAPE ENCODING ENDINGS (--bytes N | --lines N) OUT
"""

import argparse
import random
import sys

ENCODINGS = {
    "cp1252": ("cp1252", b""),
    "utf8": ("utf-8", b"\xef\xbb\xbf"),
    "utf16le": ("utf-16-le", b"\xff\xfe"),
}
ENDINGS = {
    "crlf": ["\r\n"],
    "lf": ["\n"],
    "mixed": ["\r\n", "\n", "\r\n", "\r", "\n", "\r\n"],
}
HEADER = "%"
CHUNK_LINES = 60 * 1024  # a multiple of every period below


def realistic_lines(count, rng):
    """`count` lines of a plausible milling program."""
    lines = []
    n = 10
    while len(lines) < count:
        block = rng.randint(150, 250)
        for _ in range(block):
            x, y = rng.uniform(-200, 200), rng.uniform(-150, 150)
            z = rng.uniform(-5, 20)
            if rng.random() < 0.01:
                lines.append(f"(Werkstück Ä{n} – Fräsen, Öffnung {x:.1f}°)")
            elif rng.random() < 0.3:
                lines.append(f"N{n} X{x:.3f} Y{y:.3f}")
            else:
                lines.append(f"N{n} G1 X{x:.3f} Y{y:.3f} Z{z:.3f} F{rng.randint(200, 3000)}")
            n += 10
        lines += ["M104", "G4 P2", "M80", "M81"]
    return lines[:count]


def repeated(unit, count):
    return (unit * (count // len(unit) + 1))[:count]


def encode_lines(lines, encoding, endings):
    cycle = ENDINGS[endings]
    text = "".join(line + cycle[i % len(cycle)] for i, line in enumerate(lines))
    return text.encode(ENCODINGS[encoding][0])


class Writer:
    """Writes encoded pieces until the byte budget is used."""

    def __init__(self, out, max_bytes, unit):
        self.out = out
        self.left = max_bytes
        self.unit = unit

    def put(self, data):
        """Writes `data`, cut after its last whole line that fits; False when full."""
        if self.left is not None and len(data) > self.left:
            self.out.write(data[:self.last_break_end(data[:self.left])])
            self.left = 0
            return False
        self.out.write(data)
        if self.left is not None:
            self.left -= len(data)
        return True

    def last_break_end(self, data):
        pad = b"\0" * (self.unit - 1)
        for end in range(len(data) - len(data) % self.unit, 0, -self.unit):
            if data[end - self.unit:end] in (b"\n" + pad, b"\r" + pad):
                return end
        return 0


def write_repeated(writer, unit, encoding, endings, count):
    """Writes `count` lines of `unit` repeated (count None: until full)."""
    chunk = encode_lines(repeated(unit, CHUNK_LINES), encoding, endings)
    remaining = count
    while remaining is None or remaining > 0:
        if remaining is not None and remaining < CHUNK_LINES:
            return writer.put(encode_lines(repeated(unit, remaining), encoding, endings))
        if not writer.put(chunk):
            return False
        if remaining is not None:
            remaining -= CHUNK_LINES
    return True


def generate(shape, encoding, endings, max_bytes, lines, out):
    codec, mark = ENCODINGS[encoding]
    if encoding == "utf16le" and max_bytes is not None:
        max_bytes -= max_bytes % 2
    writer = Writer(out, None if max_bytes is None else max_bytes - len(mark),
                    2 if encoding == "utf16le" else 1)
    out.write(mark)
    if shape == "realistic":
        rng = random.Random(20261209)
        chunk = encode_lines(realistic_lines(CHUNK_LINES * 4, rng), encoding, endings)
        remaining = lines
        while remaining is None or remaining > 0:
            if remaining is not None and remaining < CHUNK_LINES * 4:
                writer.put(encode_lines(realistic_lines(remaining, random.Random(1)),
                                        encoding, endings))
                break
            if not writer.put(chunk):
                break
            if remaining is not None:
                remaining -= CHUNK_LINES * 4
        return
    writer.put(encode_lines([HEADER], encoding, "crlf"))
    if shape == "m80":
        write_repeated(writer, ["M80"], encoding, endings, lines)
    elif shape == "triple":
        write_repeated(writer, ["M104", "M80", "M81"], encoding, endings, lines)
    elif shape == "nested":
        # N is chosen so that the whole file has the requested size.
        if lines is not None:
            pairs = lines // 3
        else:
            unit = len(encode_lines(["M104", "M80", "M81"] * 2, encoding, endings)) / 6
            pairs = int(writer.left / unit / 3)
        write_repeated(writer, ["M104"], encoding, endings, pairs)
        write_repeated(writer, ["M80", "M81"], encoding, endings, 2 * pairs)
    else:
        sys.exit(f"unknown shape {shape}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("shape", choices=["realistic", "m80", "triple", "nested"])
    parser.add_argument("encoding", choices=sorted(ENCODINGS))
    parser.add_argument("endings", choices=sorted(ENDINGS))
    size = parser.add_mutually_exclusive_group(required=True)
    size.add_argument("--bytes", type=int)
    size.add_argument("--lines", type=int)
    parser.add_argument("out")
    args = parser.parse_args()
    with open(args.out, "wb") as out:
        generate(args.shape, args.encoding, args.endings, args.bytes, args.lines, out)


if __name__ == "__main__":
    main()
