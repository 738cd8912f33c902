#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The golden corpus: runs the cases of cases.txt on the built programs and holds the record of
# each run (exit status, console, files left) against expected/NAME.txt, printing the first
# differing lines; --regenerate writes the records instead. IQTOOLS_EMULATOR, when set,
# prefixes every program; IQTOOLS_GOLDEN_FAIL_FAST, when set, stops at the first failing case;
# IQTOOLS_GOLDEN_SHARD=K/N runs only the cases whose index is K modulo N.
# Usage: run.sh [--regenerate] BIN_DIR [CASE...]
set -u
export LC_ALL=C
regenerate=0
[ "${1:-}" = --regenerate ] && { regenerate=1; shift; }
bin=$(cd "$1" && pwd) || exit 1
shift
golden=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for tool in "$bin"/*; do
  [ -x "$tool" ] && [ -f "$tool" ] && eval "${tool##*/}() { \${IQTOOLS_EMULATOR:-} '$tool' \"\$@\"; }"
done
export -f $(compgen -A function)

# The lines of FILE, each after "| ", with the programs' folder as <bin> and the launchers'
# dates and times of day masked (they vary from run to run); a last line without its newline
# is marked.
show() {
  sed -E "s|$bin/|<bin>/|g"'; s/^(Mon|Tue|Wed|Thu|Fri|Sat|Sun) .* [0-9]{4}$/<date>/; s/[0-9]+( ?)hours [0-9]+( *)mins [0-9]+( ?)secs/#\1hours #\2mins #\3secs/g; s/^/| /' "$1"
  [ -s "$1" ] && [ -n "$(tail -c 1 "$1")" ] && printf '\n\\ no newline at end\n'
  return 0
}
record() { # command: runs it in the current folder and prints its record
  bash -c "$1" > "$work/stdout" 2> "$work/stderr" < /dev/null
  printf '$ %s\nstatus %d\nstdout:\n' "$1" $?
  show "$work/stdout"
  echo "stderr:" && show "$work/stderr"
  # Inputs changed, removed or made. Only the stored inputs are summed: a made file may be a
  # sparse capture of gigabytes.
  local names=(in/*) sums && sums=$(cksum "${input_files[@]}" 2> /dev/null)
  if [ "${names[*]}" != "${input_files[*]}" ] || [ "$sums" != "$input_sums" ]; then
    local -A now=() && local crc size file
    while read -r crc size file; do now[$file]="$crc $size"; done <<< "$sums"
    for file in "${input_files[@]}"; do
      [ "${now[$file]:-}" = "${inputs[$file]}" ] || echo "input ${file#in/} changed or removed"
    done
    for file in "${names[@]}"; do
      [ -n "${inputs[$file]:-}" ] || echo "made $file: $(wc -c < "$file") bytes"
    done
  fi
  find . -path ./in -prune -o ! -type d -print | sort | while read -r file; do
    if [ -L "$file" ]; then
      echo "link ${file#./} -> $(readlink "$file")"
    elif ! grep -aq '[^[:print:][:space:]]' "$file" && [ "$(wc -l < "$file")" -le 300 ]; then
      echo "file ${file#./}:" && show "$file"
    else
      echo "file ${file#./}: $(wc -c < "$file") bytes, sha256 $(sha256sum < "$file" | cut -c 1-64)"
    fi
  done
}

failed=0 ran=0 index=-1 shard=${IQTOOLS_GOLDEN_SHARD:-0/1}
declare -A inputs=()
cp -R "$golden/inputs" "$work/in" && cd "$work" && input_files=(in/*) && input_sums=$(cksum in/*) && cd - > /dev/null
while read -r crc size file; do inputs[$file]="$crc $size"; done <<< "$input_sums"
while read -r name command; do
  [[ -z $name || $name == \#* ]] && continue
  [ $# -gt 0 ] && [[ " $* " != *" $name "* ]] && continue
  index=$((index + 1))
  [ $((index % ${shard#*/})) = "${shard%/*}" ] || continue
  rm -rf "$work/case" && mkdir "$work/case" && cp -R "$golden/inputs" "$work/case/in"
  (cd "$work/case" && record "$command") > "$work/record.txt"
  ran=$((ran + 1))
  if [ $regenerate = 1 ]; then
    cp "$work/record.txt" "$golden/expected/$name.txt"
  elif ! cmp -s "$golden/expected/$name.txt" "$work/record.txt"; then
    failed=$((failed + 1))
    echo "FAIL $name: $command"
    diff "$golden/expected/$name.txt" "$work/record.txt" 2>&1 | head -n 6
    [ -n "${IQTOOLS_GOLDEN_FAIL_FAST:-}" ] && break
  fi
done < "$golden/cases.txt"
echo "golden corpus: $ran cases, $failed failed"
[ $failed = 0 ] && [ $ran -gt 0 ]
