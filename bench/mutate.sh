#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Mutation check: applies each one-token fault of a list (bench/mutations.txt) on its own,
# rebuilds the programs and the test program, runs the given test command and counts the
# faults it fails on. Run it in a scratch clone, never in a worktree with unsaved work: each
# file is restored with `git checkout` after its mutation.
# Usage: bench/mutate.sh BUILD_DIR MUTATIONS_FILE TEST_COMMAND...
set -u
build=$1 list=$2
shift 2
tried=0 caught=0
while IFS='|' read -r file old new; do
  [[ -z $file || $file == \#* ]] && continue
  python3 -c 'import sys; p, a, b = sys.argv[1:]; t = open(p).read(); assert t.count(a) == 1, a; open(p, "w").write(t.replace(a, b))' \
    "$file" "$old" "$new" || { echo "NOT APPLIED $file: $old"; continue; }
  if ! cmake --build "$build" -j 2 --target iqtools_tests programs > /tmp/mutate-build.log 2>&1; then
    echo "DOES NOT BUILD $file: $old -> $new"
  else
    tried=$((tried + 1))
    if "$@" > /tmp/mutate-test.log 2>&1; then
      echo "MISSED $file: $old -> $new"
    else
      caught=$((caught + 1))
      echo "caught $file: $old -> $new"
    fi
  fi
  git checkout -q -- "$file"
done < "$list"
cmake --build "$build" -j 2 --target iqtools_tests programs > /dev/null 2>&1
echo "tried $tried, caught $caught"
