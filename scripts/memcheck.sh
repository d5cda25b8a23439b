#!/usr/bin/env bash
# Runs the tests of the parts without a window under Valgrind's memcheck: an invalid read or
# write, a jump on uninitialised memory or a definite leak fails the run.
#   ./scripts/memcheck.sh [build folder, default build]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for t in tst_downloadengine tst_serialport tst_settingsfile tst_image tst_platform; do
  exe=$(find "$build/tests" -type f -perm -u+x -name "$t" | head -n 1)
  if [ -z "$exe" ]; then
    echo "== memcheck: $t is not built here, skipped"
    continue
  fi
  echo "== memcheck $t"
  # Qt's regular expressions compile to machine code that memcheck cannot follow.
  if ! QT_QPA_PLATFORM=offscreen QT_ENABLE_REGEXP_JIT=0 LC_ALL=C.UTF-8 \
    valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
    --suppressions="$here/scripts/memcheck.supp" \
    "$exe" >"$log" 2>&1; then
    cat "$log"
    echo "memcheck: $t failed" >&2
    exit 1
  fi
done
