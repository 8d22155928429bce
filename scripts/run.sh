#!/usr/bin/env bash
# Installs what is missing, builds the release build and starts the desktop
# program. Without a display it thins the bundled sample with the CLI
# instead and says where the result is.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
scripts/install-deps.sh
cmake --preset release >/dev/null
# Only what it runs: the programs, the plug-in runner and bridges, the
# bundled plug-ins; the tests and benchmarks are left for `ctest`.
cmake --build --preset release --target programs
bin=$top/build/release/bin

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/kevrale" ]; then
  exec "$bin/kevrale"
fi

[ -x "$bin/kevrale" ] && echo "run: no display available; thinning the bundled sample with the CLI instead"
out=$top/build/release/sample-thinned.bmp
"$bin/kevrale-thin" "$top/samples/lineart.bmp" -o "$out"
echo "run: thinned samples/lineart.bmp (black lines, white surround)"
echo "run: result written to $out"
