#!/usr/bin/env python3
"""Writes uninstaller/MAINICON.ico: one 32x32 image, 32 bits per pixel.

The picture is a plain box with a diagonal bar, drawn in code so the icon has
a source that can be reviewed and regenerated.
Usage: tools/make_icon.py [output path]
"""
import struct
import sys

SIZE = 32


def pixel(x, y):
    """BGRA of the pixel at column x, row y (row 0 at the top)."""
    inside = 3 <= x < SIZE - 3 and 3 <= y < SIZE - 3
    if not inside:
        return (0, 0, 0, 0)
    border = x in (3, SIZE - 4) or y in (3, SIZE - 4)
    if border:
        return (0x40, 0x30, 0x20, 0xFF)
    if abs(x - y) <= 2:
        return (0x20, 0x20, 0xD0, 0xFF)
    return (0xE0, 0xC0, 0x90, 0xFF)


def image():
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up
        rows.append(b"".join(bytes(pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    # AND mask: 1 bit per pixel, rows padded to 32 bits; alpha does the work.
    mask_row = bytes(((SIZE + 31) // 32) * 4)
    and_mask = b"".join(
        bytes(
            sum((1 << (7 - b)) for b in range(8) if pixel(byte * 8 + b, y)[3] == 0)
            for byte in range(SIZE // 8)
        ) + bytes(len(mask_row) - SIZE // 8)
        for y in reversed(range(SIZE))
    )
    return header + xor + and_mask


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "uninstaller/MAINICON.ico"
    data = image()
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(data), 6 + 16)
    with open(out, "wb") as f:
        f.write(directory + entry + data)


if __name__ == "__main__":
    main()
