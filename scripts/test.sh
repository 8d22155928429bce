#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer build (ASan + UBSan) and
# runs every test with CTest.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
scripts/install-deps.sh
preset=${KEVRALE_TEST_PRESET:-asan}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
# Qt and fontconfig keep caches alive until exit; leak reports there are noise.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --preset "$preset" -j "$(nproc)"
