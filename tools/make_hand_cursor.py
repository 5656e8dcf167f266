#!/usr/bin/env python3
"""Draws the program's own hand pointer and writes it as a Windows cursor file (HAND-M.CUR).

Usage: tools/make_hand_cursor.py OUTPUT
"""
import struct
import sys

# '#' outline, '.' inside or outside: the inside is found by filling the outside from the border.
ART = """
.....##.............
....#..#............
....#..#............
....#..#............
....#..#............
....#..###..........
....#..#..###.......
....#..#..#..##.....
....#..#..#..#.##...
.##.#..#..#..#..##..
#..##........#...#..
#...#............#..
.#...............#..
..#..............#..
..#..............#..
...#............#...
...#............#...
....#...........#...
....#..........#....
.....#.........#....
.....##########.....
.....#.........#....
.....##########.....
"""

SIZE = 32
HOTSPOT = (5, 0)


def main(out_path):
    rows = [r for r in ART.strip("\n").split("\n")]
    grid = [["." for _ in range(SIZE)] for _ in range(SIZE)]
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            grid[y][x] = c
    outside = set()
    stack = [(x, y) for x in range(SIZE) for y in (0, SIZE - 1)] + [(x, y) for y in range(SIZE) for x in (0, SIZE - 1)]
    while stack:
        x, y = stack.pop()
        if not (0 <= x < SIZE and 0 <= y < SIZE) or (x, y) in outside or grid[y][x] == "#":
            continue
        outside.add((x, y))
        stack += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]

    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        bits = 0
        for x in range(SIZE):
            if grid[y][x] == "#":
                xor += bytes((0, 0, 0, 255))
            elif (x, y) in outside:
                xor += bytes((0, 0, 0, 0))
                bits |= 1 << (31 - x)
            else:
                xor += bytes((255, 255, 255, 255))
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOTSPOT[0], HOTSPOT[1], len(image), 6 + 16)
    with open(out_path, "wb") as f:
        f.write(directory + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
