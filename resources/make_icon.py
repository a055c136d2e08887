#!/usr/bin/env python3
"""Draws the installer's icon: a monitor whose screen shows a night sky with
a crescent moon, 32 x 32 in the 16 standard colours. Writes installer.ico."""
import struct, sys

BLACK, NAVY, GREY, SILVER, YELLOW, WHITE = 0, 4, 8, 7, 11, 15
# The 16-colour palette, index order of the standard VGA palette.
PALETTE = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),
           (192,192,192),(128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),
           (255,0,255),(0,255,255),(255,255,255)]

def pixel(x, y):
    """Colour index at (x, y), y counted from the top; None is transparent."""
    if 3 <= x <= 28 and 3 <= y <= 22:            # monitor case
        if 5 <= x <= 26 and 5 <= y <= 20:        # screen
            moon = (x - 18) ** 2 + (y - 11) ** 2 <= 20
            bite = (x - 20) ** 2 + (y - 10) ** 2 <= 16
            if moon and not bite:
                return YELLOW
            if (x, y) in ((8, 8), (12, 16), (24, 17), (10, 12), (23, 7)):
                return WHITE
            return NAVY
        return SILVER if y < 21 else GREY
    if 13 <= x <= 18 and 23 <= y <= 25:          # neck
        return GREY
    if 8 <= x <= 23 and 26 <= y <= 28:           # foot
        return SILVER if y < 28 else GREY
    return None

def main(path):
    xor = bytearray()
    mask = bytearray()
    for y in range(31, -1, -1):                  # bottom-up rows
        row = [pixel(x, y) for x in range(32)]
        for x in range(0, 32, 2):
            a, b = (row[x] or BLACK), (row[x + 1] or BLACK)
            xor.append(a << 4 | b)
        bits = 0
        for x in range(32):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack('>I', bits)
    header = struct.pack('<IiiHHIIiiII', 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', 32, 32, 16, 0, 1, 4, len(image), 22)
    with open(path, 'wb') as f:
        f.write(directory + image)

if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'installer.ico')
