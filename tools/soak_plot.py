#!/usr/bin/env python3
"""Draws the soak logs (tools/soak.sh: build/soak/run-N.log or precise-N.log, a line every 1,000 refreshes or
display ticks) as one SVG picture: private bytes of each run over the refreshes, with the bytes in use in the process's heaps beneath, and the
window from the 6,000th refresh on, where growth is limited to 2 MB. Needs nothing beyond Python.
Usage: soak_plot.py OUT.svg TITLE [LABEL=]LOG...   (a curve is called "run N" unless labelled)
"""
import math
import sys

W, H, LEFT, RIGHT, TOP, BOTTOM = 760, 360, 64, 150, 40, 44
COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e"]


def read(path):
    """(count, private MB, heaps in use MB) per line, and what the count counts: the tool's lines have 14
    columns, heaps the 13th; the precise window's 8, heaps the 7th."""
    rows, unit = [], "refreshes"
    with open(path) as f:
        for line in f:
            cols = line.split()
            heaps = 12 if len(cols) >= 13 else 6 if len(cols) == 8 else None
            if heaps is not None:
                rows.append((int(cols[0]), int(cols[1]) / 1048576, int(cols[heaps]) / 1048576))
                unit = "display ticks" if heaps == 6 else "refreshes"
    return rows, unit


def main():
    out, title, logs = sys.argv[1], sys.argv[2], sys.argv[3:]
    named = [a.split("=", 1) if "=" in a else ["run %d" % (i + 1), a] for i, a in enumerate(logs)]
    read_logs = [(label,) + read(p) for label, p in named]
    runs = [(label, r) for label, r, _ in read_logs if r]
    if not runs:
        sys.exit("no figures in " + " ".join(logs))
    unit = next(u for _, r, u in read_logs if r)
    xmax = max(r[-1][0] for _, r in runs)
    ymax = max(max(v[1] for v in r) for _, r in runs)
    ymax = int(math.ceil(ymax * 1.2 / 5)) * 5  # room above the highest curve
    pw, ph = W - LEFT - RIGHT, H - TOP - BOTTOM

    def x(n):
        return LEFT + pw * n / xmax

    def y(mb):
        return TOP + ph * (1 - mb / ymax)

    svg = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="12">' % (W, H), '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="22" font-size="14">%s</text>' % (LEFT, title)]
    window = [n for _, r in runs for n, _, _ in r if n >= 6000]
    if window:
        svg.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="#f2f2f2" stroke="none"/>' %
                   (x(6000), TOP, x(xmax) - x(6000), ph))
    for mb in range(0, ymax + 1, 5):
        svg.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="#ccc"/>' % (LEFT, LEFT + pw, y(mb), y(mb)))
        svg.append('<text x="%d" y="%.1f" text-anchor="end">%d MB</text>' % (LEFT - 6, y(mb) + 4, mb))
    step = 10000 if xmax > 30000 else 2000
    for n in range(0, xmax + 1, step):
        svg.append('<text x="%.1f" y="%d" text-anchor="middle">%d</text>' % (x(n), TOP + ph + 16, n))
    svg.append('<text x="%d" y="%d" text-anchor="middle">%s</text>' % (LEFT + pw // 2, H - 8, unit))
    for i, (label, rows) in enumerate(runs):
        colour = COLOURS[i % len(COLOURS)]
        for col, dash in ((1, ""), (2, ' stroke-dasharray="4 3"')):
            points = " ".join("%.1f,%.1f" % (x(r[0]), y(r[col])) for r in rows if r[col] >= 0)
            svg.append('<polyline points="%s" fill="none" stroke="%s" stroke-width="1.5"%s/>' % (points, colour, dash))
        late = [r for r in rows if r[0] >= 6000]
        growth = "%+.2f MB" % (late[-1][1] - late[0][1]) if late else ""
        ly = TOP + 16 + 34 * i
        svg.append('<line x1="%d" x2="%d" y1="%d" y2="%d" stroke="%s" stroke-width="2"/>' %
                   (W - RIGHT + 12, W - RIGHT + 32, ly, ly, colour))
        svg.append('<text x="%d" y="%d">%s</text>' % (W - RIGHT + 38, ly + 4, label))
        svg.append('<text x="%d" y="%d" fill="#555">%s</text>' % (W - RIGHT + 38, ly + 19, growth))
    ly = TOP + 16 + 34 * len(runs) + 6
    svg.append('<text x="%d" y="%d" fill="#555">solid: private bytes</text>' % (W - RIGHT + 12, ly))
    svg.append('<text x="%d" y="%d" fill="#555">dashed: heaps in use</text>' % (W - RIGHT + 12, ly + 16))
    svg.append('<text x="%d" y="%d" fill="#555">grey: from 6,000</text>' % (W - RIGHT + 12, ly + 32))
    svg.append("</svg>")
    with open(out, "w") as f:
        f.write("\n".join(svg) + "\n")


if __name__ == "__main__":
    main()
