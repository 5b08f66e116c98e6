#!/usr/bin/env bash
# Runs preview_probe.exe under Wine: the Windows program's resources 400 and 401 written
# by writeResourceFile, compared with the template and the movie of the native build.
#   preview_probe.sh <preview_probe.exe> <native resources folder>
set -u
exe=${1:?usage: preview_probe.sh preview_probe.exe resources}
resources=${2:?usage: preview_probe.sh preview_probe.exe resources}
[ -f "$exe" ] || { echo "missing $exe (build the Windows configurations first)" >&2; exit 1; }
export RIG_SOUND=0
here=$(cd "$(dirname "$0")/../wine" && pwd)
# shellcheck source=../wine/rig.sh
source "$here/rig.sh"
rig_start
cp "$exe" "$RIG_WORK/"
cd "$RIG_WORK" || exit 1
rig_desktop ./preview_probe.exe .
if [ ! -f preview_probe.txt ]; then
    echo "preview_probe.exe wrote no report" >&2
    exit 1
fi
tr -d '\r' <preview_probe.txt
status=0
tr -d '\r' <preview_probe.txt | grep -qx PASS || status=1
if cmp -s PemloPreview.swf "$resources/PemloPreview.swf"; then
    echo "ok   movie identical to the build's ($(stat -c %s PemloPreview.swf) bytes)"
else
    echo "FAIL movie differs from $resources/PemloPreview.swf"; status=1
fi
# The page: the template with CRLF line ends, filled and escaped.
expect_in_page() {
    if grep -qF -- "$1" PemloPreview.html; then echo "ok   page has $1"; else echo "FAIL page lacks $1"; status=1; fi
}
expect_in_page 'PemloPreview.swf?videofile=C:\My Videos\it%27s %231 %26 100%25.flv&amp;w=640&amp;h=480'
expect_in_page "'Your recording: C:\\\\My Videos\\\\it\\x27s \\x231 \\x26 100\\x25.flv'"
expect_in_page 'width="640" height="480"'
if [ "$(grep -c $'\r$' PemloPreview.html)" = "$(wc -l <PemloPreview.html)" ]; then
    echo "ok   every line of the page ends with CRLF"
else
    echo "FAIL the page has lines without CRLF"; status=1
fi
exit $status
