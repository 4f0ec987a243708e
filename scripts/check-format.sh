#!/usr/bin/env bash
# Fails if any of our C++ sources strays from the checked-in .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find core module stream tools host demo tests bench fuzz -name '*.cpp' -o -name '*.h')
fi
clang-format --dry-run -Werror "${files[@]}"
echo "clang-format: ${#files[@]} files in style"
