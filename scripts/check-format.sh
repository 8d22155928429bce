#!/usr/bin/env bash
# Checks that every C and C++ file of the tree is formatted as the
# project's .clang-format says; prints the files that are not.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/kevrale-format.$$; then
  grep -E '^[^ ].*: (error|warning):' /tmp/kevrale-format.$$ | cut -d: -f1 | sort -u |
    sed 's/^/check-format: not formatted: /'
  rm -f /tmp/kevrale-format.$$
  echo "check-format: run clang-format -i on the files above"
  exit 1
fi
rm -f /tmp/kevrale-format.$$
echo "check-format: ${#files[@]} files formatted"
