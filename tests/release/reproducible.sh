#!/usr/bin/env bash
# The release is reproducible: the product built a second time, from a copy of the
# source in another folder, at another time and without any compiler cache, packs into
# the very same zip. Also checks what the zip holds.
#   reproducible.sh <source root> <product build folder> <work folder>
# The first release is packed from the product build (build/windows) as `make dist`
# packs it; the second is built in <work folder> (only the exe: what the zip holds).
set -euo pipefail
root=$(cd "${1:?usage: reproducible.sh source-root product-build work-folder}" && pwd)
product=${2:?}
work=${3:?}
failed=0
check() {  # check NAME COMMAND...
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failed=1; fi
}

rm -rf "$work"
mkdir -p "$work/first" "$work/second folder/src"
# One date for both (a copy of the source has no git history to take it from).
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
export SOURCE_DATE_EPOCH
python3 "$root/tools/dist/make_dist.py" "$root" "$product/app/PemloRecorder.exe" \
    "$work/first" >/dev/null

# The copy: everything but the builds, the releases, the history and the npm packages of
# the tests and tools (those of the page, under resources/, are reused).
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git \
    --exclude='./tests/*/node_modules' --exclude='./tools/*/node_modules' -cf - . |
    tar -C "$work/second folder/src" -xf -
second="$work/second folder/build"
start=$(date +%s)
(
    unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
    export CCACHE_DISABLE=1
    gen=()
    if command -v ninja >/dev/null; then gen=(-G Ninja); fi
    cmake --no-warn-unused-cli -S "$work/second folder/src" -B "$second" "${gen[@]}" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$work/second folder/src/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$second" -j "$(nproc)" --target PemloRecorder >/dev/null
)
echo "     second build: $(($(date +%s) - start)) s"
python3 "$root/tools/dist/make_dist.py" "$work/second folder/src" \
    "$second/app/PemloRecorder.exe" "$work/second" >/dev/null

version=$(cat "$root/VERSION")
zip="PemloRecorder-$version-win32.zip"
check "same exe in both folders" cmp "$product/app/PemloRecorder.exe" "$second/app/PemloRecorder.exe"
check "same SHA256SUMS in both folders" cmp "$work/first/SHA256SUMS" "$work/second/SHA256SUMS"
check "SHA256SUMS names $zip" grep -q "^[0-9a-f]\{64\}  $zip\$" "$work/first/SHA256SUMS"
check "SHA256SUMS holds the zip's checksum" \
    bash -c "cd '$work/first' && sha256sum --quiet -c SHA256SUMS"
check "no build folder in the exe" \
    bash -c "! grep -a -q -e '$root' -e '$work' '$product/app/PemloRecorder.exe'"

# What the zip holds, in this order; README.txt for Windows, naming the version.
python3 - "$work/first/$zip" "$version" <<'PY' || failed=1
import sys
import zipfile

zip_path, version = sys.argv[1], sys.argv[2]
z = zipfile.ZipFile(zip_path)
bad = 0


def check(name, ok):
    global bad
    print(("ok   " if ok else "FAIL ") + name)
    bad += not ok


names = z.namelist()
check("entries: " + ", ".join(names), names == [
    "PemloRecorder.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"])
for name in names[1:]:
    text = z.read(name)
    check(name + " has Windows line ends",
          text.count(b"\n") > 10 and text.count(b"\n") == text.count(b"\r\n"))
readme = z.read("README.txt").decode("utf-8")
check("README.txt names version " + version, "Pemlo Recorder " + version in readme
      and "PemloRecorder-" + version + "-win32.zip" in readme)
check("README.txt says where unfinished recordings are kept",
      "%LOCALAPPDATA%\\Pemlo Recorder\\Recordings" in readme)
check("one date for every entry", len({i.date_time for i in z.infolist()}) == 1)
sys.exit(1 if bad else 0)
PY
[ "$failed" = 0 ] && echo PASS
exit "$failed"
