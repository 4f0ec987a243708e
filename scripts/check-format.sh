#!/usr/bin/env bash
# Fails if any of our C++ sources strays from the checked-in .clang-format.
set -euo pipefail

readonly Name=check-format

Print_Usage() {
  printf '%s\n' \
    "usage: scripts/$Name.sh" \
    "Checks every C++ source of the repository (git's list, or the source folders outside git)" \
    "against the checked-in .clang-format with clang-format; exit 1 if any strays."
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=messages.sh
source "$here/../scripts/messages.sh"
Answer_Help_And_Version "$@"
(($# == 0)) || Usage_Error "unknown argument '$1'"

cd "$Repo"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find core module stream tools host demo tests bench fuzz -name '*.cpp' -o -name '*.h')
fi
clang-format --dry-run -Werror "${files[@]}"
echo "clang-format: ${#files[@]} files in style"
