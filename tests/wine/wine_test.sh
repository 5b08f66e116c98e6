#!/usr/bin/env bash
# Every test under Wine starts here. Its first line says which build it runs and why;
# then the test script runs with the rig set to that loader (see rig.sh).
#   wine_test.sh <32|64|none> <why> <rig root> <test script> [arguments...]
# The first three come from the native configuration (the Makefile asks
# tools/wine-arch.sh which Wine loader runs on this machine).
set -u
arch=${1:?usage: wine_test.sh 32|64|none why rig-root script [args...]}
why=${2:?}
rig_root=${3:?}
script=${4:?}
shift 4

case "$arch" in
    32) build="32-bit build under wine" loader=/usr/lib/wine/wine ;;
    64) build="64-bit build under wine64" loader=/usr/lib/wine/wine64 ;;
    *)
        echo "FAIL: $why"
        exit 1
        ;;
esac
echo "$build: $why"
# The loader chosen when the tests were configured must still run.
if ! bash -c '"$0" --version' "$loader" >/dev/null 2>&1; then
    echo "FAIL: $loader does not run on this machine (any more): configure again (make native)"
    exit 1
fi
export PEMLO_WINE_ARCH=$arch RIG_ROOT=$rig_root
exec bash "$script" "$@"
