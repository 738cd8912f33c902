#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The licence-line check (.ci/licence.sh) in a scratch repository: which tracked files it names,
# where --add puts the line and in which comment form, and that a second --add changes nothing.
set -euo pipefail
source "$(dirname "$0")/harness.bash"

repo=$scratch/repo
mkdir -p "$repo/.ci" "$repo/sub/deeper"
cp "$root/.ci/licence.sh" "$repo/.ci/"
cd "$repo"
git init -q .
line_cpp="// SPDX-License-Identifier: MIT"
line_hash="# SPDX-License-Identifier: MIT"

# file|its text (\n-separated)|named by the check|its first lines after --add ("-": unchanged)
cases=(
  "a.cpp|// A tool.\nint x;|yes|$line_cpp\n// A tool.\nint x;"
  "sub/b.hpp|#pragma once|yes|$line_cpp\n#pragma once"
  "sub/deeper/c.h|int c;|yes|$line_cpp\nint c;"
  "sub/version.hpp.in|#define V \"@V@\"|yes|$line_cpp\n#define V \"@V@\""
  "sub/settings.cmake|set(A 1)|yes|$line_hash\nset(A 1)"
  "CMakeLists.txt|project(x)|yes|$line_hash\nproject(x)"
  "sub/CMakeLists.txt|add_library(y)|yes|$line_hash\nadd_library(y)"
  "run.sh|#!/usr/bin/env bash\necho hi|yes|#!/usr/bin/env bash\n$line_hash\necho hi"
  "tool.py|#!/usr/bin/env python3\nprint(1)|yes|#!/usr/bin/env python3\n$line_hash\nprint(1)"
  "plain.py|print(2)|yes|$line_hash\nprint(2)"
  "empty.sh||yes|$line_hash"
  "third.cpp|// One.\n// Two.\n$line_cpp\nint t;|no|-"
  "fourth.cpp|// One.\n// Two.\n// Three.\n$line_cpp|yes|$line_cpp\n// One.\n// Two.\n// Three.\n$line_cpp"
  "gpl.cpp|// SPDX-License-Identifier: GPL-2.0\nint g;|yes|$line_cpp\n// SPDX-License-Identifier: GPL-2.0\nint g;"
  "done.sh|#!/bin/sh\n$line_hash|no|-"
  "notes.txt|words|no|-"
  "sub/OldCMakeLists.txt|words|no|-"
  "README.md|# Title|no|-"
  "data.cpp.orig|int o;|no|-"
)
expected_named=()
for row in "${cases[@]}"; do
  IFS='|' read -r file text named _ <<< "$row"
  printf '%b' "$text" > "$file"
  [ -z "$text" ] || echo >> "$file"
  [ "$named" = no ] || expected_named+=("$file")
done
chmod +x run.sh
printf 'int u;\n' > untracked.cpp
git add -- $(printf '%s\n' "${cases[@]}" | cut -d '|' -f 1) .ci/licence.sh
# The check itself carries the line.
named=$(bash .ci/licence.sh 2> /dev/null | sort) && fail "the check exits 0 with files lacking the line"
[ "$named" = "$(printf '%s\n' "${expected_named[@]}" | sort)" ] ||
  fail "the check names $(echo $named), expected $(printf '%s\n' "${expected_named[@]}" | sort | tr '\n' ' ')"

bash .ci/licence.sh --add || fail "--add leaves files lacking the line"
for row in "${cases[@]}"; do
  IFS='|' read -r file text _ after <<< "$row"
  [ "$after" != - ] || after=$text
  [ "$(cat "$file")" = "$(printf '%b' "$after")" ] || fail "$file after --add: $(cat "$file")"
done
[ -x run.sh ] || fail "--add drops the executable bit"
[ "$(cat untracked.cpp)" = "int u;" ] || fail "--add changes an untracked file"
snapshot=$(cat $(printf '%s\n' "${cases[@]}" | cut -d '|' -f 1) | sha256sum)
[ -z "$(bash .ci/licence.sh --add 2>&1)" ] && [ -z "$(bash .ci/licence.sh 2>&1)" ] ||
  fail "the check is not silent once every file has the line"
[ "$(cat $(printf '%s\n' "${cases[@]}" | cut -d '|' -f 1) | sha256sum)" = "$snapshot" ] ||
  fail "a second --add changes files"

finish "licence: ${#cases[@]} cases passed"
