#!/usr/bin/env bash
# The notices check fails when a bundled component has no section: a section taken out
# of THIRD-PARTY-NOTICES, a page library without one, a library of unknown origin in the
# link map; and passes again once the section is there.
#   notices_check_test.sh <source root> <link map of the exe>
set -uo pipefail
root=${1:?usage: notices_check_test.sh source-root link-map}
map=${2:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check_notices() { python3 "$root/tools/dist/check_notices.py" "$@"; }
failed=0
# expect NAME fails|passes PATTERN ARGS...: the check's result and a line of its output.
expect() {
    local name=$1 want=$2 pattern=$3 out rc
    shift 3
    out=$(check_notices "$@")
    rc=$?
    if { [ "$want" = fails ] && [ "$rc" = 1 ]; } || { [ "$want" = passes ] && [ "$rc" = 0 ]; } &&
        grep -q -- "$pattern" <<<"$out"; then
        echo "ok   $name"
    else
        echo "FAIL $name (exit $rc):"
        echo "     ${out//$'\n'/$'\n'     }"
        failed=1
    fi
}

notices="$root/THIRD-PARTY-NOTICES"
expect "the notices as they are pass" passes "^ok   zlib" "$notices" --link-map "$map"

# Each fixed component's section taken out in turn.
for component in "zlib" "mingw-w64 runtime" "winpthreads" "GCC runtime libraries"; do
    python3 - "$notices" "$component" >"$work/notices" <<'PY'
import re
import sys
text, name = open(sys.argv[1], encoding="utf-8").read(), sys.argv[2]
rule = r"={80}\n"
# Drops the section whose heading starts with the name: heading and body.
out = re.sub(rule + re.escape(name) + r" .*?" + rule + r".*?(?=" + rule + r"|\Z)", "", text,
             flags=re.S)
assert out != text, name
sys.stdout.write(out)
PY
    expect "no $component section fails" fails "^FAIL $component: no section" "$work/notices"
done

# A page library without a section, then with one.
mkdir -p "$work/player"
cat >"$work/player/package.json" <<'EOF'
{ "name": "pemlo-player", "private": true, "dependencies": { "tiny-lib": "^2.0.1" } }
EOF
cat >"$work/player/package-lock.json" <<'EOF'
{ "lockfileVersion": 3, "packages": { "node_modules/tiny-lib": { "version": "2.0.3" } } }
EOF
expect "a page library without a section fails" fails "^FAIL tiny-lib 2.0.3: no section" \
    "$notices" --package-json "$work/player/package.json"
{
    cat "$notices"
    printf '\n%s\ntiny-lib 2.0.3 (in the preview page)\n%s\n\n' "$(printf '=%.0s' {1..80})" \
        "$(printf '=%.0s' {1..80})"
    printf 'Copyright (c) the tiny-lib authors\n'
} >"$work/notices"
expect "with its section it passes" passes "^ok   tiny-lib 2.0.3" \
    "$work/notices" --package-json "$work/player/package.json"

# A static library nobody claims.
{
    cat "$map"
    echo "/usr/i686-w64-mingw32/lib/libpng16.a(png.o)"
    echo "                              app/libpemlo_app.a(preview_page.cpp.obj) (png_create)"
} >"$work/map"
expect "an unknown library in the link map fails" fails "libpng16.a went into the exe" \
    "$notices" --link-map "$work/map"
exit "$failed"
