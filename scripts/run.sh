#!/usr/bin/env bash
# Installs what is missing, builds Vantrel and starts it.
#   ./scripts/run.sh          (as root, or as a normal user with sudo rights)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
build="$here/build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target vantrel
exec "$build/src/shell/vantrel"
