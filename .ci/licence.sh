#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The licence line of every tracked source file (C++, CMake, shell, Python and .in templates):
#   .ci/licence.sh         names (on standard output) each file without
#                          `SPDX-License-Identifier: MIT` in its first 3 lines; exits 1 if any
#   .ci/licence.sh --add   puts the line first in each of them (after a #! line), as a comment
#                          of the file's language, then checks again
set -euo pipefail
cd "$(dirname "$0")/.."
identifier="SPDX-License-Identifier: MIT"

sources() {
  git ls-files -z | tr '\0' '\n' | grep -E '\.(cpp|hpp|h|in|cmake|sh|py)$|(^|/)CMakeLists\.txt$' || true
}

lacking() {
  local file
  while IFS= read -r file; do
    [ -f "$file" ] || continue
    head -n 3 "$file" | grep -qF "$identifier" || echo "$file"
  done < <(sources)
}

# C++ files and their templates (version.hpp.in) take //, the others #.
comment_of() {
  case "$1" in
    *.cpp | *.hpp | *.h | *.cpp.in | *.hpp.in | *.h.in) echo "// $identifier" ;;
    *) echo "# $identifier" ;;
  esac
}

add_line() {
  local file=$1 line
  line=$(comment_of "$file")
  if [ ! -s "$file" ]; then
    echo "$line" > "$file"
  elif head -n 1 "$file" | grep -q '^#!'; then
    sed -i "1a $line" "$file"
  else
    sed -i "1i $line" "$file"
  fi
}

case "${1:-}" in
  --add)
    while IFS= read -r file; do add_line "$file"; done < <(lacking)
    ;;
  "") ;;
  *)
    echo "licence: usage: .ci/licence.sh [--add]" >&2
    exit 1
    ;;
esac

missing=$(lacking)
if [ -n "$missing" ]; then
  echo "licence: these files lack '$identifier' in their first 3 lines (.ci/licence.sh --add):" >&2
  echo "$missing"
  exit 1
fi
