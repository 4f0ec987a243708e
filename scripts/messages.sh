# What every script of ours shares, sourced by each of them with
#   here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
#   source "$here/../scripts/messages.sh"   (from the top folder: "$here/scripts/...")
# after setting Name (the script's name as its messages show it) and
# defining Print_Usage. Bash builtins only, so a script can answer --help and
# refuse bad arguments before anything is installed.
#   Repo                        the repository's folder
#   Answer_Help_And_Version ARG...  -h/--help: Print_Usage and the lines
#                               of these two options; --version: the
#                               project's version; either exits 0 (2 if
#                               standard output cannot be written). Looks at
#                               the arguments up to "--".
#   Usage_Error TEXT            bad usage: one line on stderr, exit 2
#   Fail TEXT                   the work failed: one line on stderr, exit 1

Repo=$(cd "${BASH_SOURCE[0]%/*}/.." && pwd)

Usage_Error() {
  echo "$Name: $1 (see --help)" >&2
  exit 2
}

Fail() {
  echo "$Name: $1" >&2
  exit 1
}

Write_Failed() {
  echo "$Name: cannot write to standard output" >&2
  exit 2
}

# "NAME (PROJECT) VERSION", from project() in CMakeLists.txt, the one place
# the version is set; fails without output if that has none.
Version_Line() {
  local line
  while IFS= read -r line; do
    if [[ $line =~ ^project\(([A-Za-z]+)\ VERSION\ ([0-9.]+) ]]; then
      echo "$Name (${BASH_REMATCH[1]}) ${BASH_REMATCH[2]}"
      return 0
    fi
  done <"$Repo/CMakeLists.txt"
  return 1
}

Answer_Help_And_Version() {
  local argument
  for argument in "$@"; do
    case $argument in
    --) return ;;
    -h | --help)
      { Print_Usage && printf '%s\n' "  -h, --help          print this help and exit" \
        "  --version           print the version and exit"; } 2>/dev/null || Write_Failed
      exit 0
      ;;
    --version)
      local line
      line=$(Version_Line 2>/dev/null) || Fail "no project() version in $Repo/CMakeLists.txt"
      echo "$line" 2>/dev/null || Write_Failed
      exit 0
      ;;
    esac
  done
}
