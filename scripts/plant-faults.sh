#!/usr/bin/env bash
# Checks that the test suite catches real faults: plants one known fault at a time in a
# throw-away copy of the committed tree (a git worktree), builds it, runs the tests and lists the
# ones that failed. A fault that no test catches fails the script.
#   ./scripts/plant-faults.sh [number ...]     (default: all of them; --list names them)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=${VANTREL_PLANT_DIR:-$here/build-planted}
tree=$work/tree

# Each fault: a name, a file, a text that occurs once in it, and what replaces it.
plant() {
  python3 - "$@" <<'PY'
import sys
faults = [
    ("block split off by one", "src/image/blocksplit.h",
     "return {qint32(length / blockSize),", "return {qint32((length - 1) / blockSize),"),
    ("wrong reply byte", "src/download/bootloader.cpp", "char(0x20 | x)", "char(0x30 | x)"),
    ("lost settings write", "src/shell/mainwindow.cpp",
     "settings.autoReset = autoResetBox->isChecked();\n    writeSettings();",
     "settings.autoReset = autoResetBox->isChecked();"),
    ("missed tick limit", "src/download/downloadengine.cpp",
     "++m_tickCount > Bootloader::blockStepTickLimit)",
     "++m_tickCount > Bootloader::blockStepTickLimit + 1)"),
    ("dump row misaligned", "src/image/hexdump.cpp",
     "out[62 + j] = t.shown[p[j]];", "out[61 + j] = t.shown[p[j]];"),
    ("download failed reported as success", "src/cli/endings.cpp",
     "{Ending::DownloadFailed, 7,", "{Ending::DownloadFailed, 0,"),
    ("the last block's progress event lost", "src/download/downloadengine.cpp",
     "emit blockSent(index, count, first + length);",
     "if (index + 1 < count) emit blockSent(index, count, first + length);"),
]
if sys.argv[1] == "count":
    print(len(faults))
    sys.exit()
if sys.argv[1] == "name":
    print(faults[int(sys.argv[2])][0])
    sys.exit()
name, path, old, new = faults[int(sys.argv[2])]
path = sys.argv[3] + "/" + path
s = open(path).read()
if s.count(old) != 1:
    sys.exit(f"{path}: the text to replace occurs {s.count(old)} times")
open(path, "w").write(s.replace(old, new))
PY
}

count=$(plant count)
if [ "${1:-}" = --list ]; then
  for ((i = 0; i < count; i++)); do echo "$i $(plant name "$i")"; done
  exit 0
fi
chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || chosen=($(seq 0 $((count - 1))))

"$here/scripts/install-deps.sh"
mkdir -p "$work"
rm -rf "$tree"
git -C "$here" worktree prune
git -C "$here" worktree add --detach "$tree" HEAD >/dev/null
trap 'git -C "$here" worktree remove --force "$tree"' EXIT
cmake -S "$tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTREL_BUILD_BENCH=OFF >/dev/null

missed=0
for i in "${chosen[@]}"; do
  git -C "$tree" checkout -q -- .
  plant apply "$i" "$tree"
  echo "== $(plant name "$i")"
  cmake --build "$work/build" >/dev/null
  log=$work/ctest.log
  ctest --test-dir "$work/build" -j "$(nproc)" -LE soak -E tst_packaging >"$log" 2>&1 || true
  caught=$(sed -nE 's/^\s*[0-9]+ - ([^ ]+) .*/\1/p' "$log" | tr '\n' ' ')
  if [ -z "$caught" ]; then
    echo "   NOT CAUGHT"
    missed=$((missed + 1))
  else
    echo "   caught by: $caught"
  fi
done
git -C "$tree" checkout -q -- .
[ "$missed" -eq 0 ]
