#!/usr/bin/env bash
# Format check on all C++ sources; clang-tidy on the portable ones.
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
echo "lint: ${#all[@]} files formatted, ${#portable[@]} portable files analysed"
