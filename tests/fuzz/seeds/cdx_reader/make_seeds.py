#!/usr/bin/env python3
"""Writes the seed CDX files of fuzz_cdx_reader into this folder.

Small files in the FoxPro compact layout: an empty index, one tag in a single
root leaf, and one tag two levels deep (interior root over three leaves), so
that the fuzzer starts from every kind of page. Run: python3 make_seeds.py
"""
import os
import struct

PAGE = 512
HERE = os.path.dirname(os.path.abspath(__file__))


def header(root, keylen, options, key=b'', forx=b'', desc=False):
    h = bytearray(1024)
    struct.pack_into('<IIIHBB', h, 0, root, 0, 0, keylen, options, 1)
    struct.pack_into('<HHHHH', h, 502, 1 if desc else 0, len(key) + 1, len(forx) + 1, 0, len(key) + 1)
    h[512:512 + len(key)] = key
    h[512 + len(key) + 1:512 + len(key) + 1 + len(forx)] = forx
    return bytes(h)


def leaf(entries, keylen, attr, left=0xFFFFFFFF, right=0xFFFFFFFF, fill=b' '):
    bits = keylen.bit_length()
    size = 3
    recbits = 8 * size - 2 * bits
    p = bytearray(PAGE)
    struct.pack_into('<HHII', p, 0, attr, len(entries), left, right)
    pos, prev = PAGE, b''
    for i, (key, rec) in enumerate(entries):
        trail = len(key) - len(key.rstrip(fill))
        dup = 0
        if i:
            while dup < keylen - trail and prev[dup] == key[dup]:
                dup += 1
        fresh = key[dup:keylen - trail]
        pos -= len(fresh)
        p[pos:pos + len(fresh)] = fresh
        v = rec | (dup << recbits) | (trail << (recbits + bits))
        p[24 + i * size:24 + (i + 1) * size] = v.to_bytes(size, 'little')
        prev = key
    struct.pack_into('<HIBBBBBB', p, 12, pos - (24 + len(entries) * size), (1 << recbits) - 1,
                     (1 << bits) - 1, (1 << bits) - 1, recbits, bits, bits, size)
    return bytes(p)


def interior(entries, keylen, attr):
    p = bytearray(PAGE)
    struct.pack_into('<HHII', p, 0, attr, len(entries), 0xFFFFFFFF, 0xFFFFFFFF)
    for i, (key, rec, child) in enumerate(entries):
        o = 12 + i * (keylen + 8)
        p[o:o + keylen] = key
        struct.pack_into('>II', p, o + keylen, rec, child)
    return bytes(p)


def cdx(tags):
    """tags: list of (name, header bytes, list of node pages relative to the tag)."""
    out = bytearray(header(1024, 10, 0xE0))
    out += b'\0' * PAGE  # directory leaf, filled in below
    names = []
    for name, make in tags:
        base = len(out)
        hdr, nodes = make(base)
        out += hdr
        for n in nodes:
            out += n
        names.append((name.ljust(10).encode(), base))
    out[1024:1536] = leaf(sorted(names), 10, 3)
    return bytes(out)


def single(base):
    keys = [(b'ALPHA'.ljust(12), 2), (b'BETA'.ljust(12), 1), (b'BETA'.ljust(12), 3), (b''.ljust(12), 4)]
    return header(base + 1024, 12, 0x68, b'UPPER(NAME)', b'.not. deleted()'), [leaf(sorted(keys), 12, 3)]


def deep(base):
    keylen = 6
    leaves, groups = [], [[(('K%04d' % (i * 3 + j)).encode().ljust(keylen), i * 3 + j + 1) for j in range(3)]
                          for i in range(3)]
    first = base + 1024
    for i, g in enumerate(groups):
        left = first + (i - 1) * PAGE if i else 0xFFFFFFFF
        right = first + (i + 1) * PAGE if i < 2 else 0xFFFFFFFF
        leaves.append(leaf(g, keylen, 2, left, right))
    root = interior([(g[-1][0], g[-1][1], first + i * PAGE) for i, g in enumerate(groups)], keylen, 1)
    hdr = header(first + 3 * PAGE, keylen, 0x60, b'CODE', b'', True)
    return hdr, leaves + [root]


def main():
    seeds = {
        'empty.cdx': cdx([]),
        'one_leaf.cdx': cdx([('NAME', single)]),
        'two_levels.cdx': cdx([('NAME', single), ('CODE', deep)]),
    }
    for name, data in seeds.items():
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
