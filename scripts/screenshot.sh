#!/usr/bin/env bash
# Renders the window headless into docs/window.png (after start-up) and
# docs/window-preview.png (an image loaded, preview on), and the station window with a tray of
# virtual boards into docs/station.png, for the README and the metainfo.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build" -G Ninja >/dev/null
cmake --build "$here/build" --target vantrel-screenshot vantrel-station-screenshot
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
  "$here/build/tools/screenshot/vantrel-screenshot" "$here/docs"
XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen \
  "$here/build/tools/screenshot/vantrel-station-screenshot" "$here/docs"
echo "wrote $here/docs/window.png, $here/docs/window-preview.png and $here/docs/station.png"
