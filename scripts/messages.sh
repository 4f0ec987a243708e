# The one way our scripts complain, sourced by them. Name is the script's
# name as its messages show it.
#   Usage_Error TEXT  bad usage: one line on stderr, exit 2
#   Fail TEXT         the work failed: one line on stderr, exit 1

Usage_Error() {
  echo "$Name: $1 (see --help)" >&2
  exit 2
}

Fail() {
  echo "$Name: $1" >&2
  exit 1
}
