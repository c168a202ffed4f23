#!/usr/bin/env python3
"""Draws the icon of ncrewrite.exe and writes it as a Windows .ico file.

The mark: a program sheet with lines of code, one of them in blue (the line
that the rule rewrites), and an orange badge with a circular arrow (the
rewrite). Every image is drawn from the same shapes with signed distance
functions, so each size gets smooth edges of its own instead of a scaled
copy. Up to 24 pixels, where the badge would be a blur, the images get
fewer, bolder lines and a plain orange arrow instead.

The file holds eleven images: 64, 48, 32, 24 and 16 pixels in 8-bit colour
(a palette of its own each, binary transparency) and 256, 64, 48, 32, 24 and
16 pixels in 32-bit colour with alpha; the 256-pixel image is stored as PNG,
the others as device-independent bitmaps. Python's standard library only;
the output is the same on every run.

Usage: draw_icon.py OUTPUT.ico
"""

import math
import struct
import sys
import zlib

PALETTE_SIZES = (64, 48, 32, 24, 16)
TRUE_COLOUR_SIZES = (256, 64, 48, 32, 24, 16)

INK = (0x2B, 0x3A, 0x4A)      # outline of the sheet
PAPER = (0xFF, 0xFF, 0xFF)
FOLD = (0xD5, 0xDE, 0xE8)
CODE = (0x8C, 0x9B, 0xAB)     # lines of code
REWRITTEN = (0x1E, 0x78, 0xD2)  # the line that the rule rewrites
BADGE = (0xF0, 0x7D, 0x10)
ARROW = (0xFF, 0xFF, 0xFF)

# The sheet, in units of the image's width (y grows downwards).
LEFT, RIGHT, TOP, BOTTOM, FOLD_SIZE = 0.13, 0.77, 0.04, 0.96, 0.21
BADGE_CENTRE, BADGE_RADIUS = (0.70, 0.70), 0.28


# --- Signed distance functions: negative inside, in units of the width. ---

def convex_polygon(points):
    """Distance to a convex polygon given clockwise on screen (y down)."""
    edges = []
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        length = math.hypot(x1 - x0, y1 - y0)
        # Outward normal of a clockwise polygon with y pointing down.
        edges.append((x0, y0, (y1 - y0) / length, -(x1 - x0) / length))

    def distance(x, y):
        return max((x - ex) * nx + (y - ey) * ny for ex, ey, nx, ny in edges)
    return distance


def circle(centre, radius):
    cx, cy = centre
    return lambda x, y: math.hypot(x - cx, y - cy) - radius


def capsule(start, end, radius):
    """A stroke from start to end with round caps."""
    (x0, y0), (x1, y1) = start, end
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def distance(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) - radius
    return distance


def arc(centre, radius, width, start_degrees, sweep_degrees):
    """A ring segment from start, turning clockwise on screen by sweep."""
    cx, cy = centre
    start = math.radians(start_degrees)
    sweep = math.radians(sweep_degrees)
    ends = [(cx + radius * math.cos(a), cy + radius * math.sin(a)) for a in (start, start + sweep)]

    def distance(x, y):
        angle = (math.atan2(y - cy, x - cx) - start) % (2 * math.pi)
        if angle <= sweep:
            return abs(math.hypot(x - cx, y - cy) - radius) - width / 2
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2
    return distance


def inset(shape, amount):
    return lambda x, y: shape(x, y) + amount


# --- The mark. ---

def layers(size):
    """The shapes of the icon at `size` pixels, bottom first: (operation,
    colour, distance function, bounding box in units). Straight edges lie on
    pixel boundaries and strokes are whole pixels wide, so that small images
    stay sharp."""
    pixel = 1.0 / size
    small = size <= 24

    def snap(value):
        return round(value * size) / size

    left, right, top, bottom = snap(LEFT), snap(RIGHT), snap(TOP), snap(BOTTOM)
    fold_size = snap(FOLD_SIZE)
    stroke = max(1, round(0.032 * size)) * pixel
    sheet = convex_polygon([(left, top), (right - fold_size, top), (right, top + fold_size),
                            (right, bottom), (left, bottom)])
    fold = convex_polygon([(right - fold_size, top), (right, top + fold_size),
                           (right - fold_size, top + fold_size)])
    sheet_box = (left, top, right, bottom)
    shapes = [
        ("paint", INK, sheet, sheet_box),
        ("paint", PAPER, inset(sheet, stroke), sheet_box),
        ("paint", INK, fold, sheet_box),
        ("paint", FOLD, inset(fold, stroke), sheet_box),
    ]

    # Lines of code: (length, colour) from the left margin of the sheet.
    if small:
        line_pixels = max(2, round(0.085 * size))
        rows = [(0.26, CODE), (0.36, REWRITTEN), (0.20, CODE)]
        first_row, row_step = 0.36, 0.20
    else:
        line_pixels = max(1, round(0.06 * size))
        rows = [(0.30, CODE), (0.42, REWRITTEN), (0.20, CODE), (0.34, CODE)]
        first_row, row_step = 0.36, 0.15
    line_width = line_pixels * pixel
    x0 = snap(left + 0.11) + line_width / 2
    for index, (length, colour) in enumerate(rows):
        # The stroke covers whole rows of pixels.
        y = snap(first_row + index * row_step - line_width / 2) + line_width / 2
        box = (x0 - line_width, y - line_width, x0 + length + line_width, y + line_width)
        shapes.append(("paint", colour, capsule((x0, y), (x0 + length, y), line_width / 2), box))

    if small:
        shapes += plain_arrow(size)
    else:
        shapes += badge_with_ring_arrow(size)
    return shapes


def badge_with_ring_arrow(size):
    """An orange badge with a white circular arrow, cut free from the sheet
    by a transparent ring."""
    pixel = 1.0 / size
    cx, cy = BADGE_CENTRE
    gap = max(pixel, 0.035)
    box = (cx - BADGE_RADIUS - gap, cy - BADGE_RADIUS - gap,
           cx + BADGE_RADIUS + gap, cy + BADGE_RADIUS + gap)
    shapes = [("erase", None, circle(BADGE_CENTRE, BADGE_RADIUS + gap), box),
              ("paint", BADGE, circle(BADGE_CENTRE, BADGE_RADIUS), box)]

    # A ring open at the top, its head at the end of the clockwise turn.
    ring_radius = BADGE_RADIUS * 0.52
    ring_width = BADGE_RADIUS * 0.24
    start, sweep = -50.0, 280.0
    shapes.append(("paint", ARROW, arc(BADGE_CENTRE, ring_radius, ring_width, start, sweep), box))
    end = math.radians(start + sweep)
    tip_x, tip_y = cx + ring_radius * math.cos(end), cy + ring_radius * math.sin(end)
    tangent = (-math.sin(end), math.cos(end))   # the direction of the turn
    normal = (math.cos(end), math.sin(end))     # away from the centre
    head = ring_width * 1.55
    head_length = head * 1.25
    base = (tip_x - tangent[0] * head_length * 0.3, tip_y - tangent[1] * head_length * 0.3)
    point = (base[0] + tangent[0] * head_length, base[1] + tangent[1] * head_length)
    outer = (base[0] + normal[0] * head, base[1] + normal[1] * head)
    inner = (base[0] - normal[0] * head, base[1] - normal[1] * head)
    triangle = [outer, point, inner]
    if not is_clockwise(triangle):
        triangle.reverse()
    shapes.append(("paint", ARROW, convex_polygon(triangle), box))
    return shapes


def plain_arrow(size):
    """What the badge becomes where it would be a blur: a bold orange
    arrow pointing right, cut free from the sheet by a transparent edge."""
    pixel = 1.0 / size

    def snap(value):
        return round(value * size) / size

    shaft_top, shaft_bottom = snap(0.64), snap(0.84)
    head_top, head_bottom = snap(0.47), 1.0
    head_base, shaft_start = snap(0.60), snap(0.36)
    middle = (head_top + head_bottom) / 2
    shaft = convex_polygon([(shaft_start, shaft_top), (head_base + pixel, shaft_top),
                            (head_base + pixel, shaft_bottom), (shaft_start, shaft_bottom)])
    head = convex_polygon([(head_base, head_top), (1.0, middle), (head_base, head_bottom)])
    box = (shaft_start - 2 * pixel, head_top - 2 * pixel, 1.0, 1.0)
    gap = pixel
    return [("erase", None, inset(shaft, -gap), box), ("erase", None, inset(head, -gap), box),
            ("paint", BADGE, shaft, box), ("paint", BADGE, head, box)]


def is_clockwise(points):
    """Clockwise on screen, with y pointing down."""
    area = sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]))
    return area > 0


def render(size):
    """The image as rows of (r, g, b, a), top row first."""
    pixels = [[(0, 0, 0, 0.0)] * size for _ in range(size)]
    for operation, colour, shape, (bx0, by0, bx1, by1) in layers(size):
        for py in range(max(0, int(by0 * size) - 1), min(size, int(by1 * size) + 2)):
            row = pixels[py]
            y = (py + 0.5) / size
            for px in range(max(0, int(bx0 * size) - 1), min(size, int(bx1 * size) + 2)):
                # Coverage from the distance to the edge, in pixels.
                coverage = min(1.0, max(0.0, 0.5 - shape((px + 0.5) / size, y) * size))
                if coverage == 0.0:
                    continue
                r, g, b, a = row[px]
                if operation == "erase":
                    row[px] = (r, g, b, a * (1.0 - coverage))
                    continue
                out_a = coverage + a * (1.0 - coverage)
                mix = [(c * coverage + d * a * (1.0 - coverage)) / out_a
                       for c, d in zip(colour, (r, g, b))]
                row[px] = (mix[0], mix[1], mix[2], out_a)
    return [[(round(r), round(g), round(b), round(a * 255)) for r, g, b, a in row]
            for row in pixels]


# --- File formats. ---

def and_mask(image):
    """The 1-bit mask of a DIB: set where the image is transparent, rows
    bottom first, each padded to 32 bits."""
    size = len(image)
    stride = (size + 31) // 32 * 4
    out = bytearray()
    for row in reversed(image):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def dib_header(size, bits, image_bytes, colours_used=0):
    return struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, image_bytes, 0, 0,
                       colours_used, 0)


def true_colour_dib(image):
    size = len(image)
    pixels = bytearray()
    for row in reversed(image):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask = and_mask(image)
    return dib_header(size, 32, len(pixels) + len(mask)) + bytes(pixels) + mask


def median_cut(colours, count):
    """Up to `count` colours that stand for `colours` (a list of RGB)."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        # Split the box with the widest range in one channel at its median.
        best = None
        for index, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for channel in range(3):
                spread = max(c[channel] for c in box) - min(c[channel] for c in box)
                if best is None or spread > best[0]:
                    best = (spread, index, channel)
        if best is None or best[0] == 0:
            break
        _, index, channel = best
        box = sorted(boxes.pop(index), key=lambda c: c[channel])
        middle = len(box) // 2
        boxes += [box[:middle], box[middle:]]
    palette = []
    for box in boxes:
        palette.append(tuple(round(sum(c[k] for c in box) / len(box)) for k in range(3)))
    return palette


def palette_dib(image):
    """The image in 8-bit colour: a palette of its own and binary
    transparency through the mask."""
    size = len(image)
    opaque = [(r, g, b) for row in image for r, g, b, a in row if a >= 128]
    palette = median_cut(opaque, 256)
    palette += [(0, 0, 0)] * (256 - len(palette))
    nearest = {}

    def index_of(colour):
        if colour not in nearest:
            nearest[colour] = min(range(len(palette)), key=lambda i: sum(
                (p - c) ** 2 for p, c in zip(palette[i], colour)))
        return nearest[colour]

    stride = (size + 3) // 4 * 4
    pixels = bytearray()
    for row in reversed(image):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            line[x] = index_of((r, g, b)) if a >= 128 else 0
        pixels += line
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    mask = and_mask(image)
    return dib_header(size, 8, len(pixels) + len(mask), 256) + colours + bytes(pixels) + mask


def png(image):
    size = len(image)
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in image)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_file(entries):
    """entries: (size, bits per pixel, image data)."""
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    data = b""
    for size, bits, image in entries:
        # A width and height of 256 are written as 0; so is the colour
        # count of images with 256 colours or more.
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits,
                                 len(image), offset + len(data))
        data += image
    return directory + data


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    images = {size: render(size) for size in sorted(set(PALETTE_SIZES + TRUE_COLOUR_SIZES))}
    entries = [(size, 8, palette_dib(images[size])) for size in PALETTE_SIZES]
    entries += [(size, 32, png(images[size]) if size == 256 else true_colour_dib(images[size]))
                for size in TRUE_COLOUR_SIZES]
    with open(sys.argv[1], "wb") as out:
        out.write(icon_file(entries))


if __name__ == "__main__":
    main()
