# SPDX-License-Identifier: MIT
# What the set-up tests share, sourced by each: the tree's top ($root), a scratch folder removed
# on exit ($scratch), and fail, which counts a failed check; finish exits 1 if any failed.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
finish() {
  [ $failures = 0 ] || exit 1
  echo "$*"
}
