#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_dbf_reader into this folder.

Each seed is "<filter expression> NUL <DBF bytes>": a phone book table (C
fields, one deleted record), a received-fax table (D, C, N and L fields, a
mended record count) and a table whose header has one extra field descriptor
cut short. Run: python3 make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def table(fields, records, count=None):
    """fields: (name, type, length, decimals); records: (deleted, [values])."""
    header_len = 32 + 32 * len(fields) + 1
    record_len = 1 + sum(f[2] for f in fields)
    out = bytearray(32)
    out[0] = 0x03
    out[1:4] = bytes([126, 12, 11])
    struct.pack_into('<IHH', out, 4, len(records) if count is None else count, header_len, record_len)
    out[28] = 0
    out[29] = 0x03
    for name, ftype, length, dec in fields:
        d = bytearray(32)
        d[0:len(name)] = name.encode()
        d[11] = ord(ftype)
        d[16] = length
        d[17] = dec
        out += d
    out.append(0x0D)
    for deleted, values in records:
        rec = bytearray(b'*' if deleted else b' ')
        for (name, ftype, length, dec), v in zip(fields, values):
            text = v.encode('cp1252')
            rec += text.rjust(length) if ftype == 'N' else text.ljust(length)
        out += rec
    out.append(0x1A)
    return bytes(out)


def write(name, expr, data):
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(expr.encode() + b'\0' + data)


PB = [('NAME', 'C', 35, 0), ('PHONE', 'C', 25, 0)]
REC = [('DATEREC', 'D', 8, 0), ('TIMEREC', 'C', 5, 0), ('FROM', 'C', 20, 0), ('PAGES', 'N', 2, 0),
       ('ARCHIVED', 'L', 1, 0)]

write('phonebook.seed', '.not. deleted()',
      table(PB, [(False, ['Zoe', '+49 30 1']), (True, ['adam', '2']), (False, ['Grüße', '3'])]))
write('received.seed', 'UPPER(FROM) = "A" .and. .not. archived .or. DTOS(DATEREC) > "2024"',
      table(REC, [(False, ['20240312', '17:40', 'ALPHA', '3', 'F']), (False, ['        ', '', 'b', '', 'T'])],
            count=7))
cut = bytearray(table(PB, [(False, ['x', 'y'])]))
struct.pack_into('<H', cut, 8, 32 + 32 + 20)
write('cut_descriptor.seed', 'NAME # PHONE', bytes(cut))
