#!/usr/bin/env python3
"""Prints a table as python3-dbfread reads it, one line per item:
F|name|type|length|decimals for each field, then R|live or R|deleted followed
by the values (str() of what dbfread returns) for each record in file order."""
import sys

import dbfread


def main(path):
    table = dbfread.DBF(path, load=True, char_decode_errors="strict")
    for f in table.fields:
        print("|".join(["F", f.name, f.type, str(f.length), str(f.decimal_count)]))
    rows = [("live", r) for r in table.records] + [("deleted", r) for r in table.deleted]
    # dbfread keeps live and deleted records apart; put them back in file order
    # by reading the delete flags directly.
    with open(path, "rb") as fh:
        data = fh.read()
    header_len = int.from_bytes(data[8:10], "little")
    record_len = int.from_bytes(data[10:12], "little")
    count = int.from_bytes(data[4:8], "little")
    live = iter(table.records)
    deleted = iter(table.deleted)
    for i in range(count):
        flag = data[header_len + i * record_len]
        kind, rec = ("deleted", next(deleted)) if flag == 0x2A else ("live", next(live))
        print("|".join(["R", kind] + [str(v) for v in rec.values()]))
    del rows


if __name__ == "__main__":
    main(sys.argv[1])
