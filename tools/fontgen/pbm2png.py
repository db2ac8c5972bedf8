#!/usr/bin/env python3
"""Turns a binary PBM into a PNG (scaled up, with the fax pixel aspect) for looking at font sheets."""
import struct
import sys
import zlib


def read_pbm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while data[pos:pos + 1] not in (b"\n", b""):
                pos += 1
            continue
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    assert fields[0] == b"P4"
    return int(fields[1]), int(fields[2]), data[pos + 1:]


def main():
    src, dst = sys.argv[1], sys.argv[2]
    sx = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    sy = int(sys.argv[4]) if len(sys.argv) > 4 else 4
    w, h, bits = read_pbm(src)
    stride = (w + 7) // 8
    raw = bytearray()
    for y in range(h):
        row = bytearray()
        for x in range(w):
            black = bits[y * stride + x // 8] & (0x80 >> (x % 8))
            row += (b"\x00" if black else b"\xff") * sx
        for _ in range(sy):
            raw += b"\x00" + row
    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w * sx, h * sy, 8, 0, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")
    open(dst, "wb").write(png)


if __name__ == "__main__":
    main()
