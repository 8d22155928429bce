#!/usr/bin/env bash
# Runs the shared peer benchmark (/work/shared/bench-peers/run.sh) with our
# command-line program as its EXTRA row, so that it is timed end to end and
# checked for thinness next to OpenCV, scikit-image and ImageMagick on the
# same pictures. A full run takes about 20 minutes; SMALL=1 takes a minute.
#
#   bench/peers.sh                 full run
#   SMALL=1 bench/peers.sh         tiny pictures
#
# Settings (environment): BUILD=build/release (with bin/kevrale-thin),
# PEERS_DIR=/work/shared/bench-peers, and everything that run.sh reads
# (REPS, PEERS, IMAGES, ...; see its README).
#
# The peers need python3-numpy python3-pil python3-opencv python3-skimage
# libopencv-contrib-dev imagemagick g++; missing ones are installed here
# with apt-get, for this script only (the project's build does not need
# them).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/release}
PEERS_DIR=${PEERS_DIR:-/work/shared/bench-peers}
CLI=$(cd "$BUILD" 2>/dev/null && pwd)/bin/kevrale-thin

die() { echo "peers.sh: $*" >&2; exit 2; }
[ -x "$CLI" ] || die "$CLI is missing: build the target kevrale-thin in a Release build (or set BUILD)"
[ -x "$PEERS_DIR/run.sh" ] || die "$PEERS_DIR/run.sh is missing"

PACKAGES=(python3-numpy python3-pil python3-opencv python3-skimage libopencv-contrib-dev
          imagemagick g++)
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed' ||
        missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "peers.sh: installing ${missing[*]}"
    SUDO=
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# One process per picture, the same job as the peers: target black,
# surround white, 24-bit BMP in and out.
export EXTRA="$CLI --target {target} --surround {surround} -o {out} {in}"
export EXTRA_NAME=${EXTRA_NAME:-kevrale}
exec "$PEERS_DIR/run.sh"
