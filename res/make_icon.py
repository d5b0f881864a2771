#!/usr/bin/env python3
"""Draws the program's icon, a floppy disk with its lower corner cut away
along a dashed line, and writes res/korvat.ico with seven images:
16, 32 and 48 pixels at 8 and 24 bits per pixel, and 32 pixels at 4.

Run it after changing the drawing: python3 res/make_icon.py
"""
import os
import struct

# One palette for every depth, so the 4-bit image shows the same colours.
PALETTE = [
    (0, 0, 0),        # 0 outline
    (36, 74, 150),    # 1 disk body
    (70, 110, 190),   # 2 body highlight
    (190, 196, 204),  # 3 metal shutter
    (120, 126, 136),  # 4 shutter slot
    (250, 250, 244),  # 5 label
    (150, 160, 200),  # 6 label lines
    (214, 40, 40),    # 7 cut line
    (255, 255, 255),  # 8 white
]
TRANSPARENT = None


def pixel(x, y, n):
    """Colour index at (x, y) of an n-by-n image, or TRANSPARENT."""
    u, v = (x + 0.5) / n, (y + 0.5) / n  # 0..1, v grows downwards
    cut = u + v > 1.58                     # the corner that has been cut away
    on_cut = abs(u + v - 1.58) < 0.75 / n * 1.5
    if not (0.06 <= u <= 0.94 and 0.06 <= v <= 0.94):
        return TRANSPARENT
    if on_cut:
        dash = int((u - v) * n / 2) % 2 == 0 or n <= 16
        return 7 if dash else TRANSPARENT
    if cut:
        return TRANSPARENT
    edge = 1.0 / n
    if u < 0.06 + edge or u > 0.94 - edge or v < 0.06 + edge or v > 0.94 - edge:
        return 0
    # The top-right corner of a floppy is bevelled.
    if u - v > 0.94 - 0.06 - 0.12:
        return TRANSPARENT if u - v > 0.94 - 0.06 - 0.12 + edge * 1.5 else 0
    if 0.28 <= u <= 0.72 and v <= 0.38:       # shutter
        if 0.52 <= u <= 0.62 and 0.12 <= v <= 0.32:
            return 4
        return 3
    if 0.18 <= u <= 0.82 and 0.52 <= v:       # label
        if n >= 32 and int(v * n) % max(2, n // 8) == 0 and 0.24 <= u <= 0.76:
            return 6
        return 5
    if u < 0.18 and v < 0.5:
        return 2
    return 1


def bitmap(n, bits):
    rows = []
    mask_rows = []
    for y in reversed(range(n)):               # bottom-up
        indices = [pixel(x, y, n) for x in range(n)]
        mask = 0
        mask_bits = []
        for x, index in enumerate(indices):
            mask_bits.append(1 if index is TRANSPARENT else 0)
        if bits == 24:
            row = b"".join(
                bytes(reversed(PALETTE[i])) if i is not TRANSPARENT else b"\0\0\0" for i in indices
            )
        elif bits == 8:
            row = bytes(0 if i is TRANSPARENT else i for i in indices)
        else:
            values = [0 if i is TRANSPARENT else i for i in indices]
            row = bytes((values[k] << 4) | values[k + 1] for k in range(0, n, 2))
        row += b"\0" * (-len(row) % 4)
        rows.append(row)
        packed = bytearray((n + 7) // 8)
        for x, bit in enumerate(mask_bits):
            if bit:
                packed[x // 8] |= 0x80 >> (x % 8)
        packed += b"\0" * (-len(packed) % 4)
        mask_rows.append(bytes(packed))
        del mask
    colours = 0 if bits == 24 else 1 << bits
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, bits, 0,
                         len(b"".join(rows)) + len(b"".join(mask_rows)), 0, 0, colours, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in
                       (PALETTE + [(0, 0, 0)] * colours)[:colours])
    return header + palette + b"".join(rows) + b"".join(mask_rows)


def main():
    images = [(16, 8), (32, 8), (48, 8), (16, 24), (32, 24), (48, 24), (32, 4)]
    data = [bitmap(n, bits) for n, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (n, bits), blob in zip(images, data):
        out += struct.pack("<BBBBHHII", n, n, 16 if bits == 4 else 0, 0, 1, bits,
                           len(blob), offset)
        offset += len(blob)
    out += b"".join(data)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "korvat.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
