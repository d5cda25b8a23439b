#!/usr/bin/env bash
# Lists the functions longer than a limit (default 60 lines, from the line that names the
# function to its closing brace), longest first, in the folders given (default src and tools).
#   ./scripts/long-functions.sh [--limit N] [folder ...]
set -euo pipefail
limit=60
if [ "${1:-}" = --limit ]; then
  limit=$2
  shift 2
fi
[ $# -gt 0 ] || set -- src tools
cd "$(dirname "$0")/.."
ctags -R --languages=C++ --c++-kinds=f --fields=+ne -o - "$@" |
  awk -F'\t' -v limit="$limit" '{
    line = ""; end = ""
    for (i = 4; i <= NF; i++) {
      if ($i ~ /^line:/) line = substr($i, 6)
      if ($i ~ /^end:/) end = substr($i, 5)
    }
    if (line != "" && end != "" && end - line + 1 > limit)
      printf "%5d %s:%s %s\n", end - line + 1, $2, line, $1
  }' | sort -rn
