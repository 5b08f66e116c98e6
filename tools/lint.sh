#!/usr/bin/env bash
# Format check on all C++ sources; clang-tidy on the portable ones; ShellCheck on every
# shell script.
set -euo pipefail
build="$1"
mapfile -t all < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run -Werror "${all[@]}"
# Windows-only files end in _win32; the native build cannot analyse them.
mapfile -t portable < <(printf '%s\n' "${all[@]}" | grep -E '^(app|capture|process|flv|platform)/.*\.cpp$' \
  | grep -v '_win32\.cpp$' || true)
if [ "${#portable[@]}" -gt 0 ]; then
  printf '%s\n' "${portable[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null
fi
# The preview page's player scripts, with ESLint from the page tests' npm packages.
page_tests=tests/page
if [ ! -x "$page_tests/node_modules/.bin/eslint" ]; then
  (cd "$page_tests" && npm ci --no-audit --no-fund --silent)
fi
(cd resources/player && "../../$page_tests/node_modules/.bin/eslint" --config eslint.config.js \
  --max-warnings 0 inflate.js screen_video.js adpcm.js flv.js saver.js player.js)
# The Python scripts, with Ruff's WebAssembly build (tools/ruff: pinned, installed here
# from the npm registry when missing).
if [ ! -d tools/ruff/node_modules/@astral-sh/ruff-wasm-nodejs ]; then
  (cd tools/ruff && npm ci --no-audit --no-fund --silent)
fi
mapfile -t python < <(git ls-files '*.py')
node tools/ruff/ruff.js "${python[@]}"
# Every shell script: the *.sh files and those that start with a shell's #! line. The
# files they source are followed from each script's own folder.
mapfile -t shells < <({ git ls-files '*.sh'; git grep -l -E '^#!.*[/ ](bash|sh)( |$)'; } | sort -u)
shellcheck -x --source-path=SCRIPTDIR "${shells[@]}"
echo "lint: ${#all[@]} files formatted, ${#portable[@]} portable files analysed, page scripts" \
  "linted, ${#python[@]} Python files checked by Ruff, ${#shells[@]} shell scripts checked"
