#!/usr/bin/env bash
# Takes the screenshots of the preview page shown in docs/preview-page.md again: the page's own
# player before and while playing, and the form offered when the data is not beside the
# page (here: missing), in headless Chromium from file:// (they come from the page test's own run).
# usage: docs/page_screenshots.sh [BUILD_DIR]   (after make native)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/native}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bash "$root/tests/page/run_player_test.sh" "$build/tests/pemlo_publish_page" \
  "$build/resources" "$work/cases" "$build/tools" "$work/shots" >/dev/null
convert "$work/shots/before.png" -crop 640x400+0+0 +repage "$root/docs/preview-page-before.png"
convert "$work/shots/playing.png" -crop 640x400+0+0 +repage "$root/docs/preview-page-playing.png"
convert "$work/shots/missing.png" -crop 640x480+0+0 +repage "$root/docs/preview-page-drop.png"
echo "docs/preview-page-{before,playing,drop}.png written"
