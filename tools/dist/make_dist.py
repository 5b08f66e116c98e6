#!/usr/bin/env python3
"""Packs the release: dist/PemloRecorder-<version>-win32.zip and dist/SHA256SUMS.

    make_dist.py <source root> <PemloRecorder.exe> <output folder>

The zip holds PemloRecorder.exe, README.txt (tools/dist/README.txt with the version
filled in), LICENSE.txt and THIRD-PARTY-NOTICES.txt, in that order; the text files with
Windows line ends. The same inputs give the same zip, byte for byte: every entry has
the date of the source's last commit (SOURCE_DATE_EPOCH when it is set, for a source
without its git history), the same attributes and the same compression. Older zips of
the program in the output folder are removed, so that the folder holds exactly what
SHA256SUMS lists.
"""

import hashlib
import os
import re
import subprocess
import sys
import time
import zipfile
from pathlib import Path

# The earliest date a zip can hold; used when neither git nor SOURCE_DATE_EPOCH says.
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def source_date(root: Path) -> int:
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    try:
        out = subprocess.run(
            ["git", "-C", str(root), "log", "-1", "--format=%ct"],
            capture_output=True, text=True, check=True,
        ).stdout.strip()
        return int(out)
    except (OSError, ValueError, subprocess.CalledProcessError):
        print("make_dist: no git history and no SOURCE_DATE_EPOCH: dating the zip's "
              "entries 1980-01-01", file=sys.stderr)
        return ZIP_EPOCH


def crlf(text: str) -> bytes:
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def entry(name: str, epoch: int) -> zipfile.ZipInfo:
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(epoch, ZIP_EPOCH))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 0  # MS-DOS: no Unix permissions of the build machine
    info.external_attr = 0x20  # the archive attribute alone
    return info


def main(argv: list[str]) -> int:
    if len(argv) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    root, exe, out = Path(argv[1]), Path(argv[2]), Path(argv[3])
    version = (root / "VERSION").read_text(encoding="ascii").strip()
    if not re.fullmatch(r"\d+\.\d+\.\d+", version):
        print(f"make_dist: VERSION must hold MAJOR.MINOR.PATCH, not '{version}'",
              file=sys.stderr)
        return 1
    readme = (root / "tools/dist/README.txt").read_text(encoding="utf-8")
    entries = [
        ("PemloRecorder.exe", exe.read_bytes()),
        ("README.txt", crlf(readme.replace("@VERSION@", version))),
        ("LICENSE.txt", crlf((root / "LICENSE").read_text(encoding="utf-8"))),
        ("THIRD-PARTY-NOTICES.txt",
         crlf((root / "THIRD-PARTY-NOTICES").read_text(encoding="utf-8"))),
    ]
    epoch = source_date(root)

    out.mkdir(parents=True, exist_ok=True)
    name = f"PemloRecorder-{version}-win32.zip"
    for old in out.glob("PemloRecorder-*-win32.zip"):
        if old.name != name:
            old.unlink()
    partial = out / (name + ".part")
    with zipfile.ZipFile(partial, "w") as z:
        for entry_name, data in entries:
            z.writestr(entry(entry_name, epoch), data, compresslevel=9)
    os.replace(partial, out / name)

    digest = hashlib.sha256((out / name).read_bytes()).hexdigest()
    sums = out / "SHA256SUMS"
    sums.write_text(f"{digest}  {name}\n", encoding="ascii")
    print(f"{out / name}\n{sums}: {digest}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
