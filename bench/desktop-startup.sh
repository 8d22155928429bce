#!/usr/bin/env bash
# Times the desktop program's start-up, from its start until its main window
# is mapped, with COUNT Windows plug-ins (copies of the KVT test decoder built
# for AMD64) in the Susie folder and their answers cached, against a start
# without them. The two kinds of start run in turn; medians of REPS each.
# The first run with plug-ins fills the cache (it starts Wine) and is not
# counted. Needs Xvfb and xwininfo (x11-utils).
#
# Settings (environment):
#   BUILD=build/release    build folder with bin/kevrale and tests/spi/win
#   COUNT=10  REPS=15
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/release}
COUNT=${COUNT:-10}
REPS=${REPS:-15}
PROGRAM=$BUILD/bin/kevrale
DLL=$BUILD/tests/spi/win/kvtwin64.spi
for f in "$PROGRAM" "$DLL"; do
    [ -e "$f" ] || { echo "desktop-startup: $f is missing (build kevrale and kevrale_windows_test_spis)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/kevrale-startup.XXXXXX)
DISPLAY_NUMBER=${DISPLAY_NUMBER:-97}
cleanup() {
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# Two homes: one with the plug-ins in its Susie folder, one without. Both
# share Kevrale's Wine prefix and cache folders under their own XDG paths.
mkdir -p "$WORK/with/config/Dravello" "$WORK/with/plugins" "$WORK/without/config"
for i in $(seq 1 "$COUNT"); do cp "$DLL" "$WORK/with/plugins/ifkvt$i.spi"; done
printf '[Plug-in]\nPath=%s\n' "$WORK/with/plugins" > "$WORK/with/config/Dravello/Susie.conf"

Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 1 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

# Milliseconds from the start of the program until its window is mapped.
start_once() {
    local home=$1
    local t0 t1
    t0=$(date +%s%N)
    HOME="$WORK/$home" XDG_CONFIG_HOME="$WORK/$home/config" XDG_CACHE_HOME="$WORK/cache-$home" \
        XDG_DATA_HOME="$WORK/data" "$PROGRAM" >/dev/null 2>&1 &
    local pid=$!
    until xwininfo -root -tree 2>/dev/null | grep -q '"Kevrale"'; do
        kill -0 "$pid" 2>/dev/null || { echo "desktop-startup: the program ended early" >&2; exit 1; }
        sleep 0.005
    done
    t1=$(date +%s%N)
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo $(((t1 - t0) / 1000000))
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

echo "filling the cache (starts Wine once per plug-in)..." >&2
first=$(start_once with)
cached=$(find "$WORK/cache-with" -type f 2>/dev/null | wc -l)
if [ "$cached" -lt 1 ]; then
    echo "desktop-startup: nothing was cached; are the plug-ins loaded?" >&2
    exit 1
fi
echo "first start with the plug-ins (Wine prefix made, answers cached): ${first} ms" >&2
: > "$WORK/with.txt"
: > "$WORK/without.txt"
for _ in $(seq 1 "$REPS"); do
    start_once without >> "$WORK/without.txt"
    start_once with >> "$WORK/with.txt"
done
without=$(median < "$WORK/without.txt")
with=$(median < "$WORK/with.txt")
echo "start-up without plug-ins:            ${without} ms (median of $REPS)"
echo "start-up with $COUNT Windows plug-ins cached: ${with} ms (median of $REPS)"
echo "difference:                           $((with - without)) ms"
