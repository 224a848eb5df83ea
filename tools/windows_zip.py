#!/usr/bin/env python3
"""Packs the Windows release zip.

    windows_zip.py QUIB_EXE SOURCE_DIR VERSION ZIP

The zip holds one folder quib-VERSION/ with quib.exe, README.txt (from
doc/README-windows.txt, @VERSION@ filled in) and LICENSE.txt (from LICENSE),
the texts plain ASCII with CR LF line ends, as Windows' editors expect.
Beside it goes ZIP.sha256 in sha256sum's format.

The same inputs give the same bytes: the entries are written in a fixed
order from memory, every entry's time is SOURCE_DATE_EPOCH (in UTC, not the
builder's zone), the modes are fixed, and no owner, access or change time
of the builder's files is recorded. (CMake's archive command records all
three from the files on disk, so its zips differ from build to build.)
"""

import hashlib
import os
import sys
import time
import zipfile


def windows_text(path, version):
    text = open(path, encoding="ascii").read()  # fails on any non-ASCII byte
    return text.replace("@VERSION@", version).replace("\n", "\r\n").encode()


def entry(name, mode, stamp):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3  # Unix, so that the modes below count
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    exe, source, version, zip_path = sys.argv[1:5]
    epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    # A zip's times are even seconds from 1980 on.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    folder = f"quib-{version}/"
    files = [
        ("quib.exe", 0o755, open(exe, "rb").read()),
        ("README.txt", 0o644,
         windows_text(os.path.join(source, "doc", "README-windows.txt"),
                      version)),
        ("LICENSE.txt", 0o644,
         windows_text(os.path.join(source, "LICENSE"), version)),
    ]
    with zipfile.ZipFile(zip_path, "w", compresslevel=9) as z:
        for name, mode, data in files:
            z.writestr(entry(folder + name, mode, stamp), data)
    digest = hashlib.sha256(open(zip_path, "rb").read()).hexdigest()
    with open(zip_path + ".sha256", "w") as f:
        f.write(f"{digest}  {os.path.basename(zip_path)}\n")
    print(f"{zip_path}\nSHA-256 {digest}")


if __name__ == "__main__":
    main()
