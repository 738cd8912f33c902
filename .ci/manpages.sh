#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks manual pages (default: man/*.1): groff -man -ww and man --warnings print no warning,
# and no alternating-font line (.BR, .RB, .IR, .RI, .BI, .IB) has more than 6 arguments --
# beyond that it is prose, whose words the macro runs together ("Acapturelargerthan...").
#   .ci/manpages.sh [PAGE...]
# Names every page and line at fault and exits 1 if there is any.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- man/*.1
status=0
fault() {
  echo "manpages: $*" >&2
  status=1
}

# Prints "LINE: COUNT" for each alternating-font line with too many arguments. Arguments are
# separated by spaces; a double-quoted one may hold spaces ("" is a quote), as may \ escapes.
crowded_lines() {
  awk '
    /^\.(BR|RB|IR|RI|BI|IB)([ \t]|$)/ {
      text = substr($0, 4); count = 0; i = 1; n = length(text)
      while (i <= n) {
        while (i <= n && substr(text, i, 1) ~ /[ \t]/) i++
        if (i > n) break
        count++
        if (substr(text, i, 1) == "\"") {
          for (i++; i <= n; i++) {
            if (substr(text, i, 1) != "\"") continue
            if (substr(text, i + 1, 1) == "\"") { i++; continue }
            i++; break
          }
        } else {
          for (; i <= n && substr(text, i, 1) !~ /[ \t]/; i++) if (substr(text, i, 1) == "\\") i++
        }
      }
      if (count > 6) print FNR ": " count
    }' "$1"
}

for page in "$@"; do
  [ -f "$page" ] || { fault "$page: no such page"; continue; }
  warnings=$(groff -man -ww -z "$page" 2>&1) || fault "$page: groff failed"
  [ -z "$warnings" ] || fault "$page: groff: $warnings"
  if command -v man > /dev/null 2>&1; then
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null) || fault "$page: man failed"
    [ -z "$warnings" ] || fault "$page: man: $warnings"
  fi
  while IFS= read -r crowded; do
    fault "$page:${crowded%%:*}: an alternating-font macro with ${crowded#*: } arguments runs words together"
  done < <(crowded_lines "$page")
done
exit $status
