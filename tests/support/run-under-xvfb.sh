#!/usr/bin/env bash
# Runs a window test on a private X server (Xvfb) with Qt's X11 back end.
# Exits 77 (skipped) with the reason when xvfb-run is not installed.
set -euo pipefail
if ! command -v xvfb-run >/dev/null; then
  echo "skipped: xvfb-run (Debian's xvfb) is not installed; scripts/install-deps.sh installs it"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$@"
