#!/bin/sh
# Fails if an object file of the module has a static constructor: with
# LibMain as the module's entry point, none would ever run.
# usage: no-static-constructors.sh NM OBJECT...
nm=$1
shift
if "$nm" "$@" | grep -q _GLOBAL__sub_I_; then
  echo "Pictolandrum.dll: a static constructor would never run; initialise statically" >&2
  exit 1
fi
