#!/usr/bin/env python3
"""Writes the preview page template the program carries: resources/preview_page.html with
the player's scripts and the bundled page libraries in place of its @PEMLO_PLAYER_SCRIPT@
line, in CRLF line ends.

The libraries (resources/player/package.json, pinned by its package-lock.json) are
installed with `npm ci` when missing and bundled by esbuild into one classic script; the
same commit gives the same bytes in any folder (no paths, times or random names).

usage: build_page.py TEMPLATE PLAYER_DIR OUTPUT SCRIPT...
"""

import fcntl
import os
import re
import subprocess
import sys

ENTRY = "bundle-entry.mjs"
GLOBAL_NAME = "PemloMediabunny"


def ensure_packages(player_dir):
    """Installs the pinned packages once; several build trees may ask at the same time."""
    esbuild = os.path.abspath(os.path.join(player_dir, "node_modules", ".bin", "esbuild"))
    with open(os.path.join(player_dir, "package.json")) as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.access(esbuild, os.X_OK):
            subprocess.run(
                ["npm", "ci", "--no-audit", "--no-fund", "--silent"],
                cwd=player_dir,
                check=True,
            )
    return esbuild


def bundle(player_dir):
    esbuild = ensure_packages(player_dir)
    result = subprocess.run(
        [esbuild, ENTRY, "--bundle", "--format=iife", "--global-name=" + GLOBAL_NAME,
         "--minify", "--legal-comments=eof", "--target=es2020", "--charset=ascii",
         "--log-level=warning"],
        cwd=player_dir,
        check=True,
        capture_output=True,
    )
    text = result.stdout.decode("ascii")
    # The page's text must not end the script element early nor hold a placeholder the
    # program fills in.
    if re.search(r"</script|#(?:width|height|file|escfile|bmp)#", text, re.IGNORECASE):
        sys.exit("build_page: the bundle holds text the page cannot carry")
    return text


def main():
    template, player_dir, output = sys.argv[1:4]
    scripts = sys.argv[4:]
    parts = [bundle(player_dir).rstrip("\n")]
    for name in scripts:
        with open(os.path.join(player_dir, name), encoding="ascii") as f:
            parts.append(f.read().replace("\r\n", "\n").rstrip("\n"))
    with open(template, encoding="latin-1") as f:
        page = f.read().replace("\r\n", "\n")
    if page.count("@PEMLO_PLAYER_SCRIPT@") != 1:
        sys.exit("build_page: the template has no single @PEMLO_PLAYER_SCRIPT@")
    page = page.replace("@PEMLO_PLAYER_SCRIPT@", "\n".join(parts))
    data = page.replace("\n", "\r\n").encode("latin-1")
    with open(output + ".tmp", "wb") as f:
        f.write(data)
    os.replace(output + ".tmp", output)


if __name__ == "__main__":
    main()
