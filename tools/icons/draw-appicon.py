#!/usr/bin/env python3
"""Draws the square application icon (resources/branding/appicon.svg) and renders it.

The wordmark's shield with its cut-out q, in white on a rounded square of the brand colour, so it
reads in a title bar at 16 px and on a desktop at 256 px. Plain paths only, like the wordmark.
With --render it also writes appicon-<size>.png for each size (rsvg-convert, from librsvg2-bin)
and appicon.ico, which holds those PNGs as Windows Vista and later read them.
Usage: tools/icons/draw-appicon.py [--render] [output folder]
"""
import importlib.util
import math
import os
import struct
import subprocess
import sys

_spec = importlib.util.spec_from_file_location(
    "draw_logo", os.path.join(os.path.dirname(os.path.abspath(__file__)), "draw-logo.py"))
_logo = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_logo)
num, circle, COLOUR = _logo.num, _logo.circle, _logo.COLOUR

SIZE = 256
RADIUS = 56
SIZES = (16, 24, 32, 48, 64, 128, 256)


def draw():
    # The shield of the wordmark, designed on a 400 x 470 grid, scaled into the square.
    shield_h = 188
    shield_w = shield_h * 400 / 470
    sx, sy = (SIZE - shield_w) / 2, (SIZE - shield_h) / 2 + 4

    def p(x, y):
        return f"{num(sx + x * shield_w / 400)} {num(sy + y * shield_h / 470)}"

    shield = (f"M{p(200, 0)}C{p(255, 30)} {p(318, 44)} {p(368, 44)}"
              f"Q{p(400, 44)} {p(400, 76)}L{p(400, 236)}"
              f"C{p(400, 350)} {p(320, 428)} {p(216, 465)}Q{p(200, 471)} {p(184, 465)}"
              f"C{p(80, 428)} {p(0, 350)} {p(0, 236)}L{p(0, 76)}Q{p(0, 44)} {p(32, 44)}"
              f"C{p(82, 44)} {p(145, 30)} {p(200, 0)}Z")

    # The q, drawn heavier than in the wordmark so its counter stays open at 16 px.
    k = shield_h / 470
    q_r, q_stroke = 110 * k, 62 * k
    mcx, mcy = sx + shield_w / 2 - 14 * k, sy + shield_h * 0.46
    xr, xl = mcx + q_r, mcx + q_r - q_stroke
    y_join = mcy + math.sqrt(q_r * q_r - (q_r - q_stroke) ** 2)
    y_end = mcy + 150 * k
    q = (f"M{num(xr)} {num(mcy)}L{num(xr)} {num(y_end)}"
         f"A{num(q_stroke / 2)} {num(q_stroke / 2)} 0 0 1 {num(xl)} {num(y_end)}"
         f"L{num(xl)} {num(y_join)}A{num(q_r)} {num(q_r)} 0 1 1 {num(xr)} {num(mcy)}Z")
    mark = shield + q + circle(mcx, mcy, q_r - q_stroke)

    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}"'
            f' viewBox="0 0 {SIZE} {SIZE}">\n'
            f'  <rect width="{SIZE}" height="{SIZE}" rx="{RADIUS}" fill="{COLOUR}"/>\n'
            f'  <path fill="#ffffff" fill-rule="evenodd" d="{mark}"/>\n'
            f'</svg>\n')


def write_ico(path, pngs):
    header = struct.pack("<HHH", 0, 1, len(pngs))
    offset = len(header) + 16 * len(pngs)
    entries, blobs = b"", b""
    for size, data in pngs:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(path, "wb") as fh:
        fh.write(header + entries + blobs)


def main():
    args = sys.argv[1:]
    render = "--render" in args
    args = [a for a in args if a != "--render"]
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.abspath(args[0] if args else os.path.join(here, "..", "..", "resources", "branding"))
    svg_path = os.path.join(out, "appicon.svg")
    with open(svg_path, "w", encoding="utf-8") as fh:
        fh.write(draw())
    print(f"wrote {svg_path}")
    if not render:
        return
    pngs = []
    for size in SIZES:
        png_path = os.path.join(out, f"appicon-{size}.png")
        subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", png_path, svg_path],
                       check=True)
        with open(png_path, "rb") as fh:
            pngs.append((size, fh.read()))
        print(f"wrote {png_path}")
    write_ico(os.path.join(out, "appicon.ico"), pngs)
    print(f"wrote {os.path.join(out, 'appicon.ico')}")


if __name__ == "__main__":
    main()
