#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' contents and names.

    reproducible_zip.py OUT.zip NAME=PATH...

Every entry gets the time SOURCE_DATE_EPOCH names (the commit's time), the same attributes
and deflate compression; entries are written in the order of their names. Text files (.txt)
get Windows line ends, since the zip is for Windows users."""

import os
import sys
import time
import zipfile


def main(arguments):
    if len(arguments) < 2:
        sys.exit(__doc__)
    out, pairs = arguments[0], arguments[1:]
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch or not epoch.isdigit():
        sys.exit("reproducible_zip.py: SOURCE_DATE_EPOCH must be set (seconds since 1970)")
    # Zip times are local times without a zone and start in 1980.
    stamp = max(time.gmtime(int(epoch))[:6], (1980, 1, 1, 0, 0, 0))

    entries = {}
    for pair in pairs:
        name, separator, path = pair.partition("=")
        if not separator or not name or name in entries:
            sys.exit(f"reproducible_zip.py: expected distinct NAME=PATH, not {pair!r}")
        entries[name] = path

    temporary = out + ".tmp"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name in sorted(entries):
            with open(entries[name], "rb") as source:
                data = source.read()
            if name.endswith(".txt"):
                data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 0  # MS-DOS attributes, as Windows' own zips
            info.external_attr = 0x20  # "archive", nothing else
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data, compresslevel=9)
    os.replace(temporary, out)


if __name__ == "__main__":
    main(sys.argv[1:])
