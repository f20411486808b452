#!/usr/bin/env python3
"""Writes the release zip: the programs and README.txt with their SHA256SUMS at the zip's root, in
name order, each dated EPOCH (seconds since 1970) and carrying nothing of the machine that made it
(no owner, no access or change times), so that the same files always make the same zip.

Usage: package.py ZIP EPOCH FILE..."""
import hashlib
import sys
import time
import zipfile
from pathlib import Path


def main():
    zip_path, epoch, files = Path(sys.argv[1]), int(sys.argv[2]), [Path(name) for name in sys.argv[3:]]
    contents = {file.name: file.read_bytes() for file in files}
    contents["SHA256SUMS"] = "".join(f"{hashlib.sha256(contents[file.name]).hexdigest()}  {file.name}\n"
                                     for file in files).encode()
    date = time.gmtime(max(epoch, 315532800))[:6]  # a zip dates nothing before 1980
    with zipfile.ZipFile(zip_path, "w") as package:
        for name in sorted(contents):
            entry = zipfile.ZipInfo(name, date)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            entry.create_system = 3
            package.writestr(entry, contents[name], compresslevel=9)
    return 0


if __name__ == "__main__":
    sys.exit(main())
