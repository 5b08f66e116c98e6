#!/usr/bin/env python3
"""Fails when a component built into the program or its preview page has no notice.

    check_notices.py THIRD-PARTY-NOTICES [--link-map PemloRecorder.map]
                     [--package-json resources/player/package.json]

A notice is a section of THIRD-PARTY-NOTICES: a heading between two lines of 80 "=" and
a body that is not empty. A component has its notice when a heading starts with the
component's name followed by a space (or, for an npm package, "<name> <version>" or
"<name>@<version>").

The components: zlib, the mingw-w64 runtime, winpthreads and the GCC runtime
libraries, always (the exe is linked statically with them); every library that the
link map of the exe shows was used (a library this script does not know fails: say
here whose it is and give it a notice); and each `dependencies` entry of the page's
package.json, when that file exists, at the version its package-lock.json resolved
(else the version asked for, without ^ or ~).
"""

import argparse
import json
import re
import sys
from pathlib import Path

ZLIB = "zlib"
MINGW = "mingw-w64 runtime"
WINPTHREADS = "winpthreads"
GCC = "GCC runtime libraries"
ALWAYS = [ZLIB, MINGW, WINPTHREADS, GCC]

# Static libraries by file name, and the component each belongs to.
LIBRARIES = {
    "libz.a": ZLIB,
    "libpthread.a": WINPTHREADS,
    "libwinpthread.a": WINPTHREADS,
    "libstdc++.a": GCC,
    "libsupc++.a": GCC,
    "libgcc.a": GCC,
    "libgcc_eh.a": GCC,
    "libssp.a": GCC,
    "libssp_nonshared.a": GCC,
    "libmingw32.a": MINGW,
    "libmingwex.a": MINGW,
    "libmingwthrd.a": MINGW,
    "libmoldname.a": MINGW,
    "libmsvcrt.a": MINGW,
}
# Import libraries of the DLLs Windows ships (tools/check-dlls.sh), made by mingw-w64.
IMPORT_LIBRARY = re.compile(
    r"lib(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|winmm|d3d9|ole32|"
    r"oleaut32|ws2_32|shlwapi|uxtheme|version|ntdll|winspool|uuid)\.a")
# The program's own libraries.
OURS = re.compile(r"libpemlo_\w+\.a")


def sections(text: str) -> dict[str, str]:
    """Heading -> body of every section."""
    found: dict[str, str] = {}
    # Exactly 80: licence texts underline their own titles with shorter runs of "=".
    parts = re.split(r"^={80}[ \t]*$", text, flags=re.M)
    # parts: preamble, heading, body, heading, body, ...
    for i in range(1, len(parts) - 1, 2):
        heading = " ".join(parts[i].split())
        found[heading] = parts[i + 1].strip()
    return found


def linked_components(link_map: Path) -> tuple[set[str], list[str]]:
    """Components whose libraries the link map shows, and libraries nobody claimed."""
    components: set[str] = set()
    unknown: list[str] = []
    members = re.findall(r"^(\S+\.a)\(", link_map.read_text(errors="replace"), flags=re.M)
    for library in sorted(set(members)):
        name = Path(library).name
        if name in LIBRARIES:
            components.add(LIBRARIES[name])
        elif IMPORT_LIBRARY.fullmatch(name):
            components.add(MINGW)
        elif not OURS.fullmatch(name):
            unknown.append(library)
    return components, unknown


def npm_components(package_json: Path) -> list[tuple[str, list[str]]]:
    """(what to print, the heading starts that count) of each page dependency."""
    dependencies = json.loads(package_json.read_text()).get("dependencies", {})
    lock_file = package_json.with_name("package-lock.json")
    locked = json.loads(lock_file.read_text()).get("packages", {}) if lock_file.exists() else {}
    result = []
    for name, wanted in sorted(dependencies.items()):
        version = locked.get(f"node_modules/{name}", {}).get("version") or wanted.lstrip("^~=v")
        result.append((f"{name} {version}", [f"{name} {version}", f"{name}@{version}"]))
    return result


def main() -> int:
    parser = argparse.ArgumentParser(description="Checks THIRD-PARTY-NOTICES.")
    parser.add_argument("notices", type=Path)
    parser.add_argument("--link-map", type=Path)
    parser.add_argument("--package-json", type=Path)
    args = parser.parse_args()

    present = sections(args.notices.read_text(encoding="utf-8"))
    wanted = [(c, [c + " "]) for c in ALWAYS]
    failed = False
    if args.link_map:
        components, unknown = linked_components(args.link_map)
        wanted += [(c, [c + " "]) for c in sorted(components - set(ALWAYS))]
        for library in unknown:
            print(f"FAIL {library} went into the exe, and no component claims it: name it "
                  f"in {Path(__file__).name} and give it a notice")
            failed = True
    if args.package_json and args.package_json.exists():
        wanted += npm_components(args.package_json)

    for component, starts in wanted:
        bodies = [body for heading, body in present.items()
                  if any(heading.startswith(s) for s in starts)]
        if not bodies:
            print(f"FAIL {component}: no section in {args.notices.name}")
            failed = True
        elif not all(bodies):
            print(f"FAIL {component}: its section in {args.notices.name} is empty")
            failed = True
        else:
            print(f"ok   {component}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
