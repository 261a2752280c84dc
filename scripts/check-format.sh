#!/usr/bin/env bash
# check-format.sh [--fix]
# Checks that every C++ file git tracks follows the tree's .clang-format, and
# names those that do not; --fix formats them in place instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format-14 -i "${files[@]}"
    exit 0
fi
unformatted=()
for file in "${files[@]}"; do
    clang-format-14 "$file" | cmp -s - "$file" || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
    printf 'Not formatted with the tree'\''s .clang-format (scripts/check-format.sh --fix formats them):\n' >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
