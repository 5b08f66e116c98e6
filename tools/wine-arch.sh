#!/usr/bin/env bash
# Which Wine loader runs on this machine, found out by running it (some kernels refuse
# 32-bit programs although the 32-bit Wine packages install). Prints one line:
#   32 <why>     the 32-bit loader runs: the 32-bit builds are tested under wine
#   64 <why>     only wine64 runs: the x86_64 builds are tested under wine64
#   none <why>   neither runs
# The answer is kept in build/wine-arch.txt (only 32 or 64; "none" is asked again, so
# that installing Wine later is noticed). `make clean` forgets it.
#
#   tools/wine-arch.sh [cache file]
#
# To try the other way by hand: PEMLO_WINE_ARCH=32 or 64 decides without probing, and
# PEMLO_WINE_NO32=1 makes the probe believe that the 32-bit loader failed. Neither is
# kept in the cache.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${1:-$root/build/wine-arch.txt}
loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64

case "${PEMLO_WINE_ARCH:-}" in
    32 | 64)
        echo "$PEMLO_WINE_ARCH PEMLO_WINE_ARCH=$PEMLO_WINE_ARCH chose it"
        exit 0
        ;;
    "") ;;
    *)
        echo "PEMLO_WINE_ARCH must be 32 or 64, not '$PEMLO_WINE_ARCH'" >&2
        exit 2
        ;;
esac

if [ "${PEMLO_WINE_NO32:-0}" != 1 ] && [ -s "$cache" ]; then
    cat "$cache"
    exit 0
fi

# Runs a loader; prints nothing when it works, else the first line of its complaint.
try_loader() {
    local out
    if [ ! -e "$1" ]; then
        echo "$1 is not installed"
        return 0
    fi
    # Through bash: timeout alone would hand a refused binary to /bin/sh as a script.
    if out=$(timeout 30 bash -c '"$0" --version' "$1" 2>&1) && [ -n "$out" ]; then
        return 0
    fi
    echo "$1: $(head -1 <<<"${out:-no output}" | sed 's/.*: //')"
}

if [ "${PEMLO_WINE_NO32:-0}" = 1 ]; then
    failed32="PEMLO_WINE_NO32=1 says the 32-bit loader fails"
else
    failed32=$(try_loader "$loader32")
fi
failed64=$(try_loader "$loader64")

if [ -z "$failed32" ]; then
    answer="32 this machine runs the 32-bit Wine loader"
elif [ -z "$failed64" ]; then
    answer="64 this machine cannot run 32-bit programs ($failed32)"
else
    echo "none no Wine loader runs on this machine ($failed32; $failed64)"
    exit 0
fi
if [ "${PEMLO_WINE_NO32:-0}" != 1 ]; then
    mkdir -p "$(dirname "$cache")"
    echo "$answer" >"$cache.tmp" && mv -f "$cache.tmp" "$cache"
fi
echo "$answer"
