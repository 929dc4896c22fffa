#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Turn a TopoJSON land file (Natural Earth 1:110m) into data/land-110m.txt.

Usage: tools/make_land_outline.py land-110m.json data/land-110m.txt [SOURCE-NOTE]

The output has one ring per line, "lon lat" pairs in hundredths of a degree, so
the map loads it without a JSON parser and diffs stay readable.

The TopoJSON merge stitched rings across the antimeridian (Fiji, Chukotka,
Wrangel Island) and turned Antarctica into a ring around the pole. The map draws
a flat plate carree picture, so rings are unwrapped, Antarctica is closed along
the -90 parallel, and everything is cut back into the -180..180 window.
"""

import json
import sys


def decode_arcs(topo):
    transform = topo.get("transform")
    arcs = []
    for arc in topo["arcs"]:
        if transform:
            (sx, sy), (tx, ty) = transform["scale"], transform["translate"]
            x = y = 0
            pts = []
            for dx, dy in arc:
                x += dx
                y += dy
                pts.append((x * sx + tx, y * sy + ty))
        else:
            pts = [(p[0], p[1]) for p in arc]
        arcs.append(pts)
    return arcs


def ring_points(arc_indices, arcs):
    pts = []
    for i in arc_indices:
        arc = arcs[i] if i >= 0 else arcs[~i][::-1]
        # Each arc starts where the previous one ended.
        pts.extend(arc if not pts else arc[1:])
    if len(pts) > 1 and pts[0] == pts[-1]:
        pts.pop()
    return pts


def polygons(geometry):
    kind = geometry["type"]
    if kind == "Polygon":
        yield geometry["arcs"]
    elif kind == "MultiPolygon":
        yield from geometry["arcs"]
    elif kind == "GeometryCollection":
        for g in geometry["geometries"]:
            yield from polygons(g)


def unwrap(pts):
    """Make longitudes continuous; return the ring and its net eastward turn."""
    out = [pts[0]]
    for x, y in pts[1:]:
        px = out[-1][0]
        while x - px > 180:
            x -= 360
        while x - px < -180:
            x += 360
        out.append((x, y))
    x0, xn = out[0][0], out[-1][0]
    step = pts[0][0] - pts[-1][0]  # closing edge, unwrapped the same way
    while step > 180:
        step -= 360
    while step < -180:
        step += 360
    return out, round((xn + step - x0) / 360)


def clip(pts, lo, hi):
    """Sutherland-Hodgman against the strip lo <= x <= hi (convex, so one pass per side)."""
    for bound, inside in ((lo, lambda x: x >= lo), (hi, lambda x: x <= hi)):
        if not pts:
            break
        out = []
        for i, cur in enumerate(pts):
            prev = pts[i - 1]
            if inside(cur[0]) != inside(prev[0]):
                t = (bound - prev[0]) / (cur[0] - prev[0])
                out.append((bound, prev[1] + t * (cur[1] - prev[1])))
            if inside(cur[0]):
                out.append(cur)
        pts = out
    return pts


def flat_rings(pts):
    pts, turns = unwrap(pts)
    if turns:
        # A ring that goes once round the globe encloses a pole: close it there.
        pole = -90.0 if sum(y for _, y in pts) < 0 else 90.0
        x0, y0 = pts[0]
        x1 = x0 + 360 * turns
        pts = pts + [(x1, y0), (x1, pole), (x0, pole)]
    xs = [x for x, _ in pts]
    k_lo = int((min(xs) + 180) // 360)
    k_hi = int((max(xs) + 180) // 360)
    for k in range(k_lo, k_hi + 1):
        piece = clip(pts, -180 + 360 * k, 180 + 360 * k)
        yield [(x - 360 * k, y) for x, y in piece]


def quantise(pts):
    out = []
    for x, y in pts:
        q = (round(x * 100), round(y * 100))
        if not out or out[-1] != q:
            out.append(q)
    while len(out) > 1 and out[0] == out[-1]:
        out.pop()
    return out


def area2(pts):
    return sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1]))


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__)
    with open(argv[1], encoding="utf-8") as f:
        topo = json.load(f)
    arcs = decode_arcs(topo)
    lines = []
    points = 0
    for obj in topo["objects"].values():
        for poly in polygons(obj):
            for ring in poly:
                for piece in flat_rings(ring_points(ring, arcs)):
                    q = quantise(piece)
                    if len(q) >= 3 and area2(q) != 0:
                        lines.append(" ".join(f"{x} {y}" for x, y in q))
                        points += len(q)
    note = argv[3] if len(argv) == 4 else "TopoJSON land outline"
    with open(argv[2], "w", encoding="ascii", newline="\n") as f:
        f.write(f"# World land outline from {note}.\n")
        f.write("# One closed ring per line (last point not repeated): lon lat pairs in\n")
        f.write("# hundredths of a degree. Holes are rings too: fill with the even-odd rule.\n")
        f.write(f"# {len(lines)} rings, {points} points.\n")
        for line in lines:
            f.write(line + "\n")
    print(f"{argv[2]}: {len(lines)} rings, {points} points")


if __name__ == "__main__":
    main(sys.argv)
