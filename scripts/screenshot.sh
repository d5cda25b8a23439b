#!/usr/bin/env bash
# Renders the window headless into docs/window.png (after start-up) and
# docs/window-preview.png (an image loaded, preview on), for the README.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja >/dev/null
cmake --build "$here/build" --target vantrel-screenshot
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
  "$here/build/tools/screenshot/vantrel-screenshot" "$here/docs"
echo "wrote $here/docs/window.png and $here/docs/window-preview.png"
