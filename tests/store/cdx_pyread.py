#!/usr/bin/env python3
"""Independent reader of FoxPro compact CDX files (standard library only).

Decodes a CDX the way other xBase engines do: tag directory at offset 0, one
1024-byte header per tag, interior nodes with big-endian record numbers and
child offsets, compact leaves read with the bit widths stored in each leaf.
It walks every tag both by the leaf chain and by the tree and prints, per
tag in creation (header) order:

  TAG name|key expression|FOR expression|A or D|key length|tree depth
  one line "key_hex recno" per entry in stored (ascending) order

Usage: cdx_pyread.py FILE.cdx [FILL]  (FILL: tag=hexbyte,... e.g. N=00)
"""
import struct
import sys

PAGE = 512


def u16(b, o):
    return struct.unpack_from('<H', b, o)[0]


def u32(b, o):
    return struct.unpack_from('<I', b, o)[0]


def be32(b, o):
    return struct.unpack_from('>I', b, o)[0]


def node(data, off, keylen, fill):
    if off % PAGE or off < 1024 or off + PAGE > len(data):
        raise ValueError('node offset %#x outside the file' % off)
    p = data[off:off + PAGE]
    attr, count, left, right = u16(p, 0), u16(p, 2), u32(p, 4), u32(p, 8)
    entries, children = [], []
    if attr & 2:
        recmask = u32(p, 14)
        recbits, dupbits, size = p[20], p[21], p[23]
        dupmask, trailmask = p[18], p[19]
        pos = PAGE
        prev = b''
        for i in range(count):
            v = int.from_bytes(p[24 + i * size:24 + (i + 1) * size], 'little')
            rec = v & recmask
            dup = (v >> recbits) & dupmask
            trail = (v >> (recbits + dupbits)) & trailmask
            fresh = keylen - dup - trail
            if fresh < 0:
                raise ValueError('bad counts')
            pos -= fresh
            if pos < 24 + count * size:
                raise ValueError('key data overlaps the entry table')
            key = prev[:dup] + p[pos:pos + fresh] + bytes([fill]) * trail
            entries.append((key, rec))
            prev = key
        free = u16(p, 12)
        if free != pos - (24 + count * size):
            raise ValueError('free byte count %d, expected %d' % (free, pos - (24 + count * size)))
    else:
        for i in range(count):
            o = 12 + i * (keylen + 8)
            entries.append((p[o:o + keylen], be32(p, o + keylen)))
            children.append(be32(p, o + keylen + 4))
    return attr, left, right, entries, children


def leaves_by_tree(data, root, keylen, fill):
    out, depth = [], None
    stack = [(root, 0, None)]
    while stack:
        off, d, bound = stack.pop()
        if d > 32:
            raise ValueError('too deep')
        attr, _, _, entries, children = node(data, off, keylen, fill)
        if bound is not None and entries and entries[-1] > bound:
            raise ValueError('child above its interior entry')
        if attr & 2:
            if depth is None:
                depth = d
            elif depth != d:
                raise ValueError('leaves on different levels')
            out.append(off)
        else:
            if not entries:
                raise ValueError('empty interior node')
            for c, e in reversed(list(zip(children, entries))):
                stack.append((c, d + 1, e))
    return out, depth


def read_tree(data, hdr, fill):
    root, keylen = u32(data, hdr), u16(data, hdr + 12)
    tree_leaves, depth = leaves_by_tree(data, root, keylen, fill)
    entries, chain = [], []
    off, prev = tree_leaves[0], 0xFFFFFFFF
    while True:
        attr, left, right, es, _ = node(data, off, keylen, fill)
        if left not in (prev, 0 if prev == 0xFFFFFFFF else prev):
            raise ValueError('left link of %#x' % off)
        chain.append(off)
        entries.extend(es)
        if right in (0, 0xFFFFFFFF):
            break
        if len(chain) > len(data) // PAGE:
            raise ValueError('leaf chain loops')
        prev, off = off, right
    if chain != tree_leaves:
        raise ValueError('leaf chain differs from the tree')
    if any(entries[i] >= entries[i + 1] for i in range(len(entries) - 1)):
        raise ValueError('entries out of order')
    return keylen, depth, entries


def header(data, off):
    pool = data[off + 512:off + 1024]
    key, _, rest = pool.partition(b'\0')
    forx = rest.partition(b'\0')[0] if data[off + 14] & 0x08 else b''
    return key.decode('latin-1'), forx.decode('latin-1'), u16(data, off + 502) != 0


def main():
    data = open(sys.argv[1], 'rb').read()
    fills = {}
    if len(sys.argv) > 2:
        for item in sys.argv[2].split(','):
            name, _, hexbyte = item.partition('=')
            fills[name] = int(hexbyte, 16)
    _, _, directory = read_tree(data, 0, 0x20)
    for name_bytes, hdr in sorted(directory, key=lambda e: e[1]):
        name = name_bytes.decode('latin-1').rstrip(' \0')
        key, forx, desc = header(data, hdr)
        keylen, depth, entries = read_tree(data, hdr, fills.get(name, 0x20))
        print('TAG %s|%s|%s|%s|%d|%d' % (name, key, forx, 'D' if desc else 'A', keylen, depth))
        for k, r in entries:
            print('%s %d' % (k.hex(), r))


if __name__ == '__main__':
    try:
        main()
    except (ValueError, IndexError, struct.error) as e:
        print('cdx_pyread: %s' % e, file=sys.stderr)
        sys.exit(2)
