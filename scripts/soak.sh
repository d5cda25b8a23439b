#!/usr/bin/env bash
# The soak: 1000 downloads in a row against the virtual board, each with a random fault, in the
# normal build and under AddressSanitizer and UndefinedBehaviorSanitizer. The seed is printed;
# give it to repeat a soak.
#   ./scripts/soak.sh [seed]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
if [ $# -gt 0 ]; then
  export VANTREL_SOAK_SEED=$1
fi

echo "== soak, normal build"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build" --target tst_soak
ctest --test-dir "$here/build" -L soak --output-on-failure -V

echo "== soak under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON \
  -DVANTREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-asan" --target tst_soak
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$here/tests/lsan.supp" \
  ctest --test-dir "$here/build-asan" -L soak --output-on-failure -V
