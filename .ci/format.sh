#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Format check: every tracked source file carries its licence line (.ci/licence.sh), and every
# C++ file in common/, tools/, tests/, bench/ and fuzz/ is as clang-format leaves it with the
# style of .clang-format (written for clang-format 14, which is preferred when installed;
# Debian's clang-format is installed when there is none).
# Names every file or line that differs and exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/licence.sh

if ! command -v clang-format-14 > /dev/null 2>&1 && ! command -v clang-format > /dev/null 2>&1; then
  echo "== Installing clang-format =="
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format > /dev/null
fi
format=$(command -v clang-format-14 || command -v clang-format)

find common tools tests bench fuzz -type f \( -name '*.cpp' -o -name '*.hpp' -o -name '*.h' \) -print0 |
  sort -z | xargs -0 "$format" --dry-run -Werror
