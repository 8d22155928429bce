#!/usr/bin/env bash
# Times the list mode of the command-line program: a batch of generated
# line-art BMP pictures (black strokes on white) run as one process, first
# sequentially and then with -j 2, and reports images per second (median of
# REPS runs of the whole batch).
#
#   bench/batch-bench.sh
#
# Settings (environment):
#   BUILD=build/release           build folder with bin/kevrale-thin (Release)
#   COUNT=100 SIZE=1024           number of pictures, width and height
#   IMAGES_DIR=/tmp/kevrale-batch-bench   where pictures, list and results go
#   JOBS="1 2"                    the -j values to time
#   REPS=3
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/release}
COUNT=${COUNT:-100}
SIZE=${SIZE:-1024}
IMAGES_DIR=${IMAGES_DIR:-/tmp/kevrale-batch-bench}
JOBS=${JOBS:-"1 2"}
REPS=${REPS:-3}
CLI=$BUILD/bin/kevrale-thin

die() { echo "batch-bench.sh: $*" >&2; exit 2; }
[ -x "$CLI" ] || die "$CLI is missing: build the target kevrale-thin in a Release build (or set BUILD)"
command -v python3 >/dev/null || die "python3 is missing"

mkdir -p "$IMAGES_DIR"
stamp=$IMAGES_DIR/.drawn-$COUNT-$SIZE
if [ ! -e "$stamp" ]; then
    echo "batch-bench.sh: drawing $COUNT pictures of ${SIZE}x$SIZE in $IMAGES_DIR" >&2
    # Strokes are capsules (a segment with round ends): convex, so each row
    # crosses one in a single run of pixels, drawn with one slice.
    python3 - "$IMAGES_DIR" "$COUNT" "$SIZE" <<'PY'
import math, random, struct, sys
folder, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
stride = (size * 3 + 3) & ~3
def capsule_span(y, ax, ay, bx, by, r):
    lo, hi = math.inf, -math.inf
    for cx, cy in ((ax, ay), (bx, by)):
        if abs(y - cy) <= r:
            h = math.sqrt(r * r - (y - cy) ** 2)
            lo, hi = min(lo, cx - h), max(hi, cx + h)
    dx, dy = bx - ax, by - ay
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length
    # |(-uy, ux) . (p - a)| <= r and 0 <= (ux, uy) . (p - a) <= length, in x.
    x_lo, x_hi = -math.inf, math.inf
    for cx, c0, a, b in ((-uy, ux * (y - ay), -r, r), (ux, uy * (y - ay), 0, length)):
        if abs(cx) < 1e-12:
            if not a <= c0 <= b: x_lo, x_hi = math.inf, -math.inf
            continue
        e1, e2 = (a - c0) / cx + ax, (b - c0) / cx + ax
        x_lo, x_hi = max(x_lo, min(e1, e2)), min(x_hi, max(e1, e2))
    if x_lo <= x_hi: lo, hi = min(lo, x_lo), max(hi, x_hi)
    return lo, hi
for n in range(count):
    rnd = random.Random(1000 + n)
    rows = [bytearray(b"\xff" * stride) for _ in range(size)]
    for _ in range(rnd.randint(25, 40)):
        m = 24
        ax, ay, bx, by = (rnd.uniform(m, size - m) for _ in range(4))
        if math.hypot(bx - ax, by - ay) < 8: continue
        r = rnd.uniform(1.5, 7)
        for y in range(max(0, int(min(ay, by) - r)), min(size, int(max(ay, by) + r) + 1)):
            lo, hi = capsule_span(y + 0.5, ax, ay, bx, by, r)
            if lo > hi: continue
            x0, x1 = max(0, math.ceil(lo - 0.5)), min(size - 1, math.floor(hi - 0.5))
            if x0 <= x1: rows[y][x0 * 3:(x1 + 1) * 3] = bytes(3 * (x1 - x0 + 1))
    pixels = b"".join(reversed(rows))  # BMP rows go bottom-up
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(f"{folder}/page{n:04d}.bmp", "wb") as f:
        f.write(header + info + pixels)
PY
    touch "$stamp"
fi

list=$IMAGES_DIR/list.txt
: > "$list"
for ((n = 0; n < COUNT; n++)); do printf 'page%04d.bmp\n' "$n" >> "$list"; done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "batch of $COUNT pictures ${SIZE}x$SIZE, whole process, $(nproc) cores, $REPS runs each"
printf '%-6s %9s %10s\n' jobs "wall s" "images/s"
reference=
for j in $JOBS; do
    times=()
    for ((rep = 0; rep < REPS; rep++)); do
        rm -f "$IMAGES_DIR"/page*_s.bmp
        start=$(date +%s.%N)
        "$CLI" --list "$list" -j "$j" 2>/dev/null || die "kevrale-thin failed (-j $j)"
        end=$(date +%s.%N)
        times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')")
    done
    # Every job count must give the same files.
    sums=$(cd "$IMAGES_DIR" && cat page*_s.bmp | md5sum)
    [ -z "$reference" ] && reference=$sums
    [ "$sums" = "$reference" ] || die "-j $j gave other results than -j ${JOBS%% *}"
    wall=$(printf '%s\n' "${times[@]}" | median)
    printf '%-6s %9.2f %10.1f\n' "$j" "$wall" "$(awk -v c="$COUNT" -v w="$wall" 'BEGIN { print c / w }')"
done
