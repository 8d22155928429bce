#!/usr/bin/env bash
# Installs what is missing, checks the house rules (formatting, layers),
# builds the sanitizer build (ASan + UBSan, warnings as errors) and runs
# every test with CTest, then builds the list-mode and plug-in tests once
# more under ThreadSanitizer and runs them.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
scripts/install-deps.sh
scripts/check-format.sh
scripts/check-layers.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

preset=${KEVRALE_TEST_PRESET:-asan}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# The Qt-free tests run with LeakSanitizer on; Qt and fontconfig keep
# caches alive until exit, so the window tests run with it off.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
  ctest --preset "$preset" -j "$jobs" -LE gui
ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 \
  ctest --preset "$preset" -j "$jobs" -L gui --no-tests=ignore

[ "${KEVRALE_SKIP_TSAN:-0}" = 1 ] && exit 0
cmake --preset tsan >/dev/null
cmake --build --preset tsan
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --preset tsan -j "$jobs"
