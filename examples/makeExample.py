#!/usr/bin/env python3
"""Makes the example pair examples/reference.dxf and examples/target.dxf.

The reference holds four separate objects whose faces lie on layers named after their roles.
The target holds the same surfaces as another modeller would export them: every face on its
object's own layer (obj1 .. obj4), the faces in another order, the corners of some faces
started at another corner, and three of the four objects moved:

  box       4 x 2 x 2, six quads, left in place        -> faces coincide with the reference
  prism     hexagonal, quads and triangle fans, shifted -> the three face tests match them
  steps     a block with a tapering block on it, quads, turned 45 degrees about its vertical axis and shifted
            -> top and bottom still pass the face tests, the rest is reached by propagation
  wedge     triangular prism, turned 180 degrees and shifted -> mostly propagation

examples/expected-layers.txt lists, for each target face in file order, the reference layer it
should end up on. Faces that are alike by symmetry share a layer, so the expectation holds
whichever of them a face is matched to.

The output is deterministic; run it again only after changing it, and commit the files.
"""

import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def number(value):
    text = "%.6f" % value
    text = text.rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def box(x0, y0, z0, x1, y1, z1, top, wall, bottom):
    """Six outward quads of an axis-aligned box."""
    p = lambda i, j, k: (x1 if i else x0, y1 if j else y0, z1 if k else z0)
    return [
        (bottom, [p(0, 0, 0), p(0, 1, 0), p(1, 1, 0), p(1, 0, 0)]),
        (top, [p(0, 0, 1), p(1, 0, 1), p(1, 1, 1), p(0, 1, 1)]),
        (wall, [p(0, 0, 0), p(1, 0, 0), p(1, 0, 1), p(0, 0, 1)]),
        (wall, [p(1, 0, 0), p(1, 1, 0), p(1, 1, 1), p(1, 0, 1)]),
        (wall, [p(1, 1, 0), p(0, 1, 0), p(0, 1, 1), p(1, 1, 1)]),
        (wall, [p(0, 1, 0), p(0, 0, 0), p(0, 0, 1), p(0, 1, 1)]),
    ]


def prism(cx, cy, radius, z0, z1, sides):
    """A closed prism over a regular polygon: quad walls, triangle fans as caps."""
    ring = []
    for k in range(sides):
        a = 2.0 * math.pi * k / sides
        ring.append((cx + radius * math.cos(a), cy + radius * math.sin(a)))
    faces = []
    for k in range(sides):
        (ax, ay), (bx, by) = ring[k], ring[(k + 1) % sides]
        faces.append(("PRISM_WALL", [(ax, ay, z0), (bx, by, z0), (bx, by, z1), (ax, ay, z1)]))
    for k in range(sides):
        (ax, ay), (bx, by) = ring[k], ring[(k + 1) % sides]
        faces.append(("PRISM_TOP", [(cx, cy, z1), (ax, ay, z1), (bx, by, z1)]))
        faces.append(("PRISM_BOTTOM", [(cx, cy, z0), (bx, by, z0), (ax, ay, z0)]))
    return faces


def steps(cx, cy):
    """A 4 x 4 x 1 block with a tapering 2 x 2 to 1 x 1 block on it, joined by a ledge of quads."""
    outer = [(cx - 2, cy - 2), (cx + 2, cy - 2), (cx + 2, cy + 2), (cx - 2, cy + 2)]
    inner = [(cx - 1, cy - 1), (cx + 1, cy - 1), (cx + 1, cy + 1), (cx - 1, cy + 1)]
    top = [(cx - 0.5, cy - 0.5), (cx + 0.5, cy - 0.5), (cx + 0.5, cy + 0.5), (cx - 0.5, cy + 0.5)]
    faces = [("STEP_BOTTOM", [(x, y, 0) for (x, y) in reversed(outer)])]
    for k in range(4):
        (ax, ay), (bx, by) = outer[k], outer[(k + 1) % 4]
        faces.append(("STEP_LOWER_WALL", [(ax, ay, 0), (bx, by, 0), (bx, by, 1), (ax, ay, 1)]))
    for k in range(4):
        (ax, ay), (bx, by) = outer[k], outer[(k + 1) % 4]
        (ix, iy), (jx, jy) = inner[k], inner[(k + 1) % 4]
        faces.append(("STEP_LEDGE", [(ax, ay, 1), (bx, by, 1), (jx, jy, 1), (ix, iy, 1)]))
    for k in range(4):
        (ax, ay), (bx, by) = inner[k], inner[(k + 1) % 4]
        (sx, sy), (tx, ty) = top[k], top[(k + 1) % 4]
        faces.append(("STEP_UPPER_WALL", [(ax, ay, 1), (bx, by, 1), (tx, ty, 2), (sx, sy, 2)]))
    faces.append(("STEP_TOP", [(x, y, 2) for (x, y) in top]))
    return faces


def wedge(x0, y0, length, depth, height):
    """A triangular prism along x: right-angled ends, a sloping face, a back wall and a base."""
    a0, b0, c0 = (x0, y0, 0), (x0, y0 + depth, 0), (x0, y0 + depth, height)
    a1, b1, c1 = [(x + length, y, z) for (x, y, z) in (a0, b0, c0)]
    return [
        ("WEDGE_END", [a0, c0, b0]),
        ("WEDGE_END", [a1, b1, c1]),
        ("WEDGE_BOTTOM", [a0, b0, b1, a1]),
        ("WEDGE_BACK", [b0, c0, c1, b1]),
        ("WEDGE_SLOPE", [a0, a1, c1, c0]),
    ]


def transform(faces, turn_degrees, shift):
    """Turns every corner about the vertical axis through the object's mean corner, then shifts."""
    corners = [c for _, cs in faces for c in cs]
    mx = sum(c[0] for c in corners) / len(corners)
    my = sum(c[1] for c in corners) / len(corners)
    a = math.radians(turn_degrees)
    cos_a, sin_a = round(math.cos(a), 15), round(math.sin(a), 15)
    out = []
    for layer, cs in faces:
        moved = []
        for (x, y, z) in cs:
            dx, dy = x - mx, y - my
            moved.append((mx + dx * cos_a - dy * sin_a + shift[0],
                          my + dx * sin_a + dy * cos_a + shift[1], z + shift[2]))
        out.append((layer, moved))
    return out


def entity_lines(layer, corners):
    four = list(corners) + ([corners[2]] if len(corners) == 3 else [])
    lines = ["0", "3DFACE", "8", layer]
    for k, (x, y, z) in enumerate(four):
        lines += ["1%d" % k, number(x), "2%d" % k, number(y), "3%d" % k, number(z)]
    return lines


def write_dxf(path, comments, faces):
    lines = ["0", "SECTION", "2", "ENTITIES"]
    for text in comments:
        lines += ["999", text]
    for layer, corners in faces:
        lines += entity_lines(layer, corners)
    lines += ["0", "ENDSEC", "0", "EOF"]
    with open(path, "w", newline="") as out:
        out.write("".join(line + "\r\n" for line in lines))


def main():
    rng = random.Random(20240601)
    objects = [
        box(0, 0, 0, 4, 2, 2, "BOX_TOP", "BOX_WALL", "BOX_BOTTOM"),
        prism(10, 1, 1.5, 0, 3, 6),
        steps(20, 1),
        wedge(30, 0, 5, 2, 1),
    ]
    moves = [(0, (0, 0, 0)), (0, (0, 9, 1)), (45, (0, 12, 0)), (180, (-4, 10, 2))]

    reference = [face for faces in objects for face in faces]
    write_dxf(os.path.join(HERE, "reference.dxf"), [], reference)

    target = []  # (own layer, corners, expected layer)
    for number_, (faces, (turn, shift)) in enumerate(zip(objects, moves), start=1):
        for layer, corners in transform(faces, turn, shift) if turn or any(shift) else faces:
            start = rng.randrange(len(corners)) if rng.random() < 0.4 else 0
            turned = corners[start:] + corners[:start]
            target.append(("obj%d" % number_, turned, layer))
    # Shuffle the file order, but let the faces of each turned object keep their relative order:
    # the influence profiles that choose the propagation's seed depend on the order in which a
    # part's faces spread, so a turned object listed in another order may be seeded wrongly.
    order = list(range(len(target)))
    rng.shuffle(order)
    turned_objects = {"obj%d" % n for n, (turn, _) in enumerate(moves, start=1) if turn}
    for own in turned_objects:
        slots = sorted(i for i in range(len(order)) if target[order[i]][0] == own)
        for slot, index in zip(slots, sorted(order[i] for i in slots)):
            order[slot] = index
    target = [target[i] for i in order]
    write_dxf(os.path.join(HERE, "target.dxf"),
              ["example target: the reference objects reordered, moved and turned"],
              [(own, corners) for own, corners, _ in target])
    with open(os.path.join(HERE, "expected-layers.txt"), "w", newline="") as out:
        out.write("".join(expected + "\n" for _, _, expected in target))


if __name__ == "__main__":
    main()
