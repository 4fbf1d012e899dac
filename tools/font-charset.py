#!/usr/bin/env python3
"""Writes the characters a bundled CJK font must cover.

Every character of the UI sources given after the output path, the 3,755 first-level characters of
GB 2312 (common Simplified), the 5,401 first-level characters of Big5 (common Traditional), CJK
punctuation and full-width forms. With --traditional (the Traditional face, which the Simplified
one backs up) GB 2312 is left out. Everything else falls back to the system's fonts.
Usage: font-charset.py [--traditional] output [sources...]
"""
import sys


def gb2312_level1():
    for hi in range(0xB0, 0xD8):
        for lo in range(0xA1, 0xFF):
            try:
                yield bytes([hi, lo]).decode("gb2312")
            except UnicodeDecodeError:
                pass


def big5_level1():
    for code in range(0xA440, 0xC67F):
        hi, lo = code >> 8, code & 0xFF
        if not (0x40 <= lo <= 0x7E or 0xA1 <= lo <= 0xFE):
            continue
        try:
            yield bytes([hi, lo]).decode("big5")
        except UnicodeDecodeError:
            pass


def main(output, paths, traditional=False):
    chars = set(chr(c) for c in range(0x20, 0x7F))
    chars.update(chr(c) for c in range(0x3000, 0x3040))
    chars.update(chr(c) for c in range(0xFF01, 0xFF5F))
    chars.update(chr(c) for c in (0x00B7, 0x2014, 0x2018, 0x2019, 0x201C, 0x201D, 0x2026))
    if not traditional:
        chars.update(gb2312_level1())
    chars.update(big5_level1())
    for path in paths:
        with open(path, encoding="utf-8") as f:
            chars.update(ch for ch in f.read() if ch.isprintable())
    with open(output, "w", encoding="utf-8") as f:
        f.write("".join(sorted(chars)))


if __name__ == "__main__":
    if sys.argv[1] == "--traditional":
        main(sys.argv[2], sys.argv[3:], traditional=True)
    else:
        main(sys.argv[1], sys.argv[2:])
