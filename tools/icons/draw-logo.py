#!/usr/bin/env python3
"""Draws the qivro wordmark (resources/branding/logo.svg).

Everything is plain geometry: a rounded shield with a "q" cut out of it, and
the word drawn as round-capped strokes, so no font is involved and QtSvg
renders it exactly as any browser does. One colour, chosen to read on both
the light and the dark theme. Usage: tools/icons/draw-logo.py [output.svg]
"""
import math
import os
import sys

W, H = 1851, 598
COLOUR = "#1a9bbf"

STROKE = 54        # letter stroke
R = 108            # radius of the round letters, on the stroke's centreline
GAP = 40           # space between letters
SHIELD_W, SHIELD_H = 404, 476
MARK_GAP = 100     # shield to word
DESCENDER = 112    # q stem below the bowl's centreline bottom
DOT_R = STROKE * 0.66
DOT_GAP = 30
V_HALF = 92        # half the width of the v, centreline
R_SHOULDER = 100   # radius of the r's arch
R_END = math.radians(-50)


def num(v):
    return ("%.1f" % v).rstrip("0").rstrip(".")


def circle(cx, cy, r):
    return (f"M{num(cx - r)} {num(cy)}A{num(r)} {num(r)} 0 1 1 {num(cx + r)} {num(cy)}"
            f"A{num(r)} {num(r)} 0 1 1 {num(cx - r)} {num(cy)}Z")


def draw():
    r_width = R_SHOULDER + R_SHOULDER * math.cos(R_END) + STROKE
    word_w = ((2 * R + STROKE) + GAP + STROKE + GAP + (2 * V_HALF + STROKE) + GAP
              + r_width + GAP * 0.85 + (2 * R + STROKE))
    x0 = (W - (SHIELD_W + MARK_GAP + word_w)) / 2

    # Centre the word's full height (i dot to q descender) on the canvas.
    span_top = -(R + STROKE / 2 + DOT_GAP + 2 * DOT_R)
    span_bottom = R + DESCENDER + STROKE / 2
    cy = H / 2 - (span_top + span_bottom) / 2
    top, bottom = cy - R, cy + R

    # Shield, designed on a 400 x 470 grid and scaled to its box.
    sx, sy = x0, cy - SHIELD_H / 2 + 8

    def p(x, y):
        return f"{num(sx + x * SHIELD_W / 400)} {num(sy + y * SHIELD_H / 470)}"

    shield = (f"M{p(200, 0)}C{p(255, 30)} {p(318, 44)} {p(368, 44)}"
              f"Q{p(400, 44)} {p(400, 76)}L{p(400, 236)}"
              f"C{p(400, 350)} {p(320, 428)} {p(216, 465)}Q{p(200, 471)} {p(184, 465)}"
              f"C{p(80, 428)} {p(0, 350)} {p(0, 236)}L{p(0, 76)}Q{p(0, 44)} {p(32, 44)}"
              f"C{p(82, 44)} {p(145, 30)} {p(200, 0)}Z")

    # The cut-out q: outline of bowl plus stem as one contour, the bowl's
    # counter as another; even-odd filling makes both holes and keeps the
    # counter solid, which QtSvg supports (it has no masks).
    q_r, q_stroke = 106, 52
    mcx, mcy = sx + SHIELD_W / 2 - 13, sy + SHIELD_H * 0.47
    xr, xl = mcx + q_r, mcx + q_r - q_stroke
    y_join = mcy + math.sqrt(q_r * q_r - (q_r - q_stroke) ** 2)
    y_end = mcy + 142
    q = (f"M{num(xr)} {num(mcy)}L{num(xr)} {num(y_end)}"
         f"A{num(q_stroke / 2)} {num(q_stroke / 2)} 0 0 1 {num(xl)} {num(y_end)}"
         f"L{num(xl)} {num(y_join)}A{num(q_r)} {num(q_r)} 0 1 1 {num(xr)} {num(mcy)}Z")
    mark = shield + q + circle(mcx, mcy, q_r - q_stroke)

    strokes = []
    x = sx + SHIELD_W + MARK_GAP
    qcx = x + STROKE / 2 + R                                   # q
    strokes.append(circle(qcx, cy, R))
    strokes.append(f"M{num(qcx + R)} {num(top)}L{num(qcx + R)} {num(bottom + DESCENDER)}")
    xi = qcx + R + STROKE + GAP                                # i
    strokes.append(f"M{num(xi)} {num(top)}L{num(xi)} {num(bottom)}")
    dot_cy = top - STROKE / 2 - DOT_GAP - DOT_R
    xv = xi + STROKE + GAP                                     # v
    strokes.append(f"M{num(xv)} {num(top)}L{num(xv + V_HALF)} {num(bottom)}"
                   f"L{num(xv + 2 * V_HALF)} {num(top)}")
    xs = xv + 2 * V_HALF + STROKE + GAP                        # r
    ex = xs + R_SHOULDER + R_SHOULDER * math.cos(R_END)
    ey = top + R_SHOULDER + R_SHOULDER * math.sin(R_END)
    strokes.append(f"M{num(xs)} {num(bottom)}L{num(xs)} {num(top)}M{num(xs)} {num(top + R_SHOULDER)}"
                   f"A{num(R_SHOULDER)} {num(R_SHOULDER)} 0 0 1 {num(ex)} {num(ey)}")
    ocx = ex + STROKE + GAP * 0.85 + R                         # o
    strokes.append(circle(ocx, cy, R))

    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" viewBox="0 0 {W} {H}">\n'
            f'  <g fill="{COLOUR}">\n'
            f'    <path fill-rule="evenodd" d="{mark}"/>\n'
            f'    <circle cx="{num(xi)}" cy="{num(dot_cy)}" r="{num(DOT_R)}"/>\n'
            f'  </g>\n'
            f'  <path fill="none" stroke="{COLOUR}" stroke-width="{num(STROKE)}" stroke-linecap="round"'
            f' stroke-linejoin="round" d="{"".join(strokes)}"/>\n'
            f'</svg>\n')


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "resources", "branding", "logo.svg")
    out = os.path.abspath(out)
    svg = draw()
    with open(out, "w", encoding="utf-8") as fh:
        fh.write(svg)
    print(f"wrote {out} {W}x{H} {len(svg)} bytes")


if __name__ == "__main__":
    main()
