#!/usr/bin/env bash
# Installs what is missing, builds Vantrel and runs the whole test suite through CTest: once in
# a normal build (and its tests without a window under Valgrind's memcheck), once under
# AddressSanitizer and UndefinedBehaviorSanitizer. The soak (scripts/soak.sh) runs apart.
#   ./scripts/test.sh         (as root, or as a normal user with sudo rights)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
jobs=$(nproc)

echo "== build and test"
cmake -S "$here" -B "$here/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build"
ctest --test-dir "$here/build" --output-on-failure -j "$jobs" -LE soak  # the soak: scripts/soak.sh

echo "== the tests without a window under Valgrind's memcheck"
"$here/scripts/memcheck.sh" "$here/build"

echo "== build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON \
  -DVANTREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$here/build-asan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions="$here/tests/lsan.supp" \
  ctest --test-dir "$here/build-asan" --output-on-failure -j "$jobs" -LE soak
echo "== all tests passed"
