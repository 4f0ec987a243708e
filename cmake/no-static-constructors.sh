#!/usr/bin/env bash
# Fails if an object file of the module has a static constructor: with
# LibMain as the module's entry point, none would ever run. Run by the
# module's build before it links (module/CMakeLists.txt).
set -euo pipefail

readonly Name=no-static-constructors

Print_Usage() {
  printf '%s\n' \
    "usage: cmake/$Name.sh NM OBJECT..." \
    "Lists the symbols of the OBJECT files with NM (MinGW's nm) and fails if any of them has a" \
    "static constructor, which Pictolandrum.dll would never run."
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=../scripts/messages.sh
source "$here/../scripts/messages.sh"
Answer_Help_And_Version "$@"

(($# >= 2)) || Usage_Error "needs NM and at least one OBJECT"
nm=$1
shift
[[ -x $nm && -f $nm ]] || Usage_Error "no nm program '$nm'"
for object in "$@"; do
  [[ -f $object ]] || Usage_Error "no object file '$object'"
done

symbols=$("$nm" "$@") || Fail "$nm could not list the objects' symbols"
if [[ $symbols == *_GLOBAL__sub_I_* ]]; then
  Fail "a static constructor would never run in Pictolandrum.dll; initialise statically"
fi
