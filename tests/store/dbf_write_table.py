#!/usr/bin/env python3
"""Writes a received-fax table with python3-dbf (dBase III layout, code page
cp1252): the table the interop test opens in the store's own engine."""
import datetime
import sys

import dbf


def main(path):
    t = dbf.Table(path, "DATEREC D; TIMEREC C(5); FROM C(20); PAGES N(2,0); FAXFILE C(12); "
                  "NOTES C(60); ARCHIVED L", codepage="cp1252", dbf_type="db3")
    t.open(dbf.READ_WRITE)
    t.append((datetime.date(2024, 3, 12), "17:40", "Grüße € Büro", 7, "FAX00003.APF", "first", True))
    t.append((datetime.date(1999, 12, 31), "08:05", "+49 30 1234", 12, "FAX00004.APF", "", False))
    t.append((None, "", "gone", 1, "", "deleted one", False))
    with t[2] as r:
        dbf.delete(r)
    t.close()


if __name__ == "__main__":
    main(sys.argv[1])
