#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual-page check (.ci/manpages.sh) on small pages: which faults it names, by page and
# line, and which it lets pass, alone and among other pages.
set -euo pipefail
source "$(dirname "$0")/harness.bash"
command -v groff > /dev/null 2>&1 || { echo "groff is not installed" >&2; exit 1; }

head='.TH T 1\n.SH NAME\nt \\- a test\n.SH DESCRIPTION\n'
# name|the page's body (after a heading of 4 lines)|the fault named ("-": none)
cases=(
  "plain|Some words.\n.BR iqspec (1),\n.IR file .txt|-"
  "six_arguments|.RB ( a ). b c d|-"
  "seven_arguments|Text.\n.RB ( a ). b c d e|:6: an alternating-font macro with 7 arguments"
  "prose|.RB ( <name>.sigmf\\\\-meta ). A capture larger than the free space|:5: an alternating-font macro with 10 arguments"
  "every_pair|.BI a b c d e f g\n.IB a b c d e f g\n.RI a b c d e f g\n.IR a b c d e f g\n.BR a b c d e f g|:5: an alternating-font macro with 7 arguments"
  "quoted|.BR \"a b c d e f g\" x\n.IR \"say \"\"a b c d\"\" now\" y\n.RB \"a\" \"b\" \"c\" \"d\" \"e\" \"f\"|-"
  "escaped_spaces|.RB a\\\\ b\\\\ c\\\\ d\\\\ e\\\\ f\\\\ g\\\\ h x|-"
  "not_alternating|.B a b c d e f g h\n.I a b c d e f g h|-"
  "unknown_macro|.XY words|: groff: troff: "
)
pages=()
for row in "${cases[@]}"; do
  IFS='|' read -r name body expected <<< "$row"
  page=$scratch/$name.1
  printf "$head%b\n" "$body" > "$page"
  pages+=("$page")
  got=0
  bash "$root/.ci/manpages.sh" "$page" 2> "$scratch/$name.err" || got=$?
  if [ "$expected" = - ]; then
    [ $got = 0 ] && [ ! -s "$scratch/$name.err" ] || fail "$name: $(cat "$scratch/$name.err")"
  else
    [ $got = 1 ] || fail "$name: exit status $got"
    grep -qF "manpages: $page$expected" "$scratch/$name.err" || fail "$name: $(cat "$scratch/$name.err")"
  fi
done
[ "$(grep -c '^manpages:' "$scratch/every_pair.err")" = 5 ] || fail "every_pair: not every line named"

# Among several pages only the faulty ones are named; a missing page is a fault.
got=0
bash "$root/.ci/manpages.sh" "${pages[@]}" "$scratch/absent.1" 2> "$scratch/all.err" || got=$?
[ $got = 1 ] || fail "several pages: exit status $got"
named=$(sed 's/^manpages: \([^:]*\):.*/\1/' "$scratch/all.err" | sort -u | xargs -n 1 basename)
[ "$named" = "$(printf '%s\n' absent.1 every_pair.1 prose.1 seven_arguments.1 unknown_macro.1)" ] ||
  fail "several pages: named $(echo $named)"

finish "manpages: ${#cases[@]} cases passed"
