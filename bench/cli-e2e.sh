#!/usr/bin/env bash
# Times the whole command-line program (load + thin + save) on the benchmark
# pictures written as 24-bit BMP files, and reports wall time, CPU time and
# peak memory per picture (median of REPS runs).
#
#   bench/cli-e2e.sh                        all four pictures
#   bench/cli-e2e.sh lineart-4k thick-bars  only these
#   bench/cli-e2e.sh --vs lineart-4k        beside a plain program that only
#                                           reads the file into memory and
#                                           writes it back (the floor), run in
#                                           turn with kevrale-thin, and the
#                                           ratio kevrale-thin / floor of each
#                                           pair (median)
#
# Settings (environment):
#   BUILD=build/release        build folder with bin/kevrale-thin (Release)
#   IMAGES_BUILD=$BUILD        build folder with bench/kevrale-bench-images
#   IMAGES_DIR=/tmp/kevrale-bench-images   where the pictures are written
#   OUT_DIR=/tmp/kevrale-bench-out         where the results are written
#   EXT=bmp                    the results' extension, which chooses their
#                              format: bmp, png, tif or svg (the centre lines)
#   REPS=3
#   ARGS=                      more options for every run, e.g. ARGS="--prune 10"
#   BEFORE=                    with --vs: another kevrale-thin (e.g. an older
#                              build) run in the same turns, for before/after
#   REPLACE=0                  with --vs: 1 lets each run replace the result
#                              of the round before; by default each writes a
#                              new file, since deleting the replaced 48 MB
#                              file is the file system's work (15-20 ms on
#                              ext4), the same for every program
set -euo pipefail

VS=0
if [ "${1:-}" = --vs ]; then
    VS=1
    shift
fi

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/release}
IMAGES_BUILD=${IMAGES_BUILD:-$BUILD}
IMAGES_DIR=${IMAGES_DIR:-/tmp/kevrale-bench-images}
OUT_DIR=${OUT_DIR:-/tmp/kevrale-bench-out}
REPS=${REPS:-3}
EXT=${EXT:-bmp}
read -r -a EXTRA <<<"${ARGS:-}"
CLI=$BUILD/bin/kevrale-thin
WRITER=$IMAGES_BUILD/bench/kevrale-bench-images
FLOOR=$BUILD/bench/kevrale-read-write-floor
BEFORE=${BEFORE:-}
REPLACE=${REPLACE:-0}

die() { echo "cli-e2e.sh: $*" >&2; exit 2; }
[ -x "$CLI" ] || die "$CLI is missing: build the target kevrale-thin in a Release build (or set BUILD)"
[ -x "$WRITER" ] || die "$WRITER is missing: build the target kevrale-bench-images (or set IMAGES_BUILD)"
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (apt-get install time)"
if [ "$VS" = 1 ]; then
    [ -x "$FLOOR" ] || die "$FLOOR is missing: build the target kevrale-read-write-floor"
    [ -z "$BEFORE" ] || [ -x "$BEFORE" ] || die "BEFORE=$BEFORE is not a program"
fi

NAMES=("$@")
[ ${#NAMES[@]} -gt 0 ] || NAMES=(lineart-4k wide-12500 thick-bars colour-mix)

mkdir -p "$IMAGES_DIR" "$OUT_DIR"
# Pictures are drawn once; a picture is redrawn when the writer is newer.
for name in "${NAMES[@]}"; do
    if [ ! -s "$IMAGES_DIR/$name.bmp" ] || [ "$WRITER" -nt "$IMAGES_DIR/$name.bmp" ]; then
        "$WRITER" "$IMAGES_DIR" "$name" >/dev/null
    fi
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs a command under /usr/bin/time; prints "wall cpu peak-KiB", the wall
# time to the microsecond from the clock around it (/usr/bin/time gives
# hundredths only).
timed() {
    local start end
    if [ "$VS" = 1 ]; then
        # Untimed: the earlier results go (unless they are to be replaced),
        # and the disk finishes writing them, so that no program waits for
        # what ran before it.
        [ "$REPLACE" = 1 ] || rm -f "$OUT_DIR"/*-thin.* "$OUT_DIR"/*-before.* "$OUT_DIR"/*-floor.*
        sync
    fi
    start=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$OUT_DIR/time.txt" "$@"
    end=$(date +%s%N)
    read -r user sys rss <"$OUT_DIR/time.txt"
    awk -v w="$(((end - start) / 1000))" -v u="$user" -v s="$sys" -v r="$rss" \
        'BEGIN { printf "%.6f %s %s\n", w / 1e6, u + s, r }'
}

# --vs: kevrale-thin (and BEFORE) and the floor in turn, REPS rounds; the
# ratios are taken round by round, so that a machine whose speed drifts
# does not skew them.
if [ "$VS" = 1 ]; then
    header=$(printf '%-12s %11s %8s %9s %8s %8s' picture size "wall s" "peak MiB" "floor s" ratio)
    [ -z "$BEFORE" ] || header+=$(printf ' %9s %8s %10s' "before s" ratio "before MiB")
    echo "$header"
    for name in "${NAMES[@]}"; do
        in=$IMAGES_DIR/$name.bmp
        read -r width height < <(od -An -t d4 -j 18 -N 8 "$in")
        samples=$OUT_DIR/$name.vs
        : >"$samples"
        for _ in $(seq "$REPS"); do
            read -r a_wall _ a_rss < <(timed "$CLI" --target 000000 --surround FFFFFF \
                "${EXTRA[@]}" -o "$OUT_DIR/$name-thin.$EXT" "$in")
            b_wall=0 b_rss=0
            if [ -n "$BEFORE" ]; then
                read -r b_wall _ b_rss < <(timed "$BEFORE" --target 000000 --surround FFFFFF \
                    "${EXTRA[@]}" -o "$OUT_DIR/$name-before.$EXT" "$in")
            fi
            read -r f_wall _ _ < <(timed "$FLOOR" "$in" "$OUT_DIR/$name-floor.bmp")
            echo "$a_wall $a_rss $f_wall $b_wall $b_rss" >>"$samples"
        done
        awk -v n="$name" -v sz="${width}x${height#-}" -v before="${BEFORE:+1}" '
            function med(a, k,   i, j, t) {
                for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++)
                    if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                return a[int((k + 1) / 2)]
            }
            { w[NR] = $1; r[NR] = $2; f[NR] = $3; b[NR] = $4
              ra[NR] = $3 > 0 ? $1 / $3 : 0; rb[NR] = $3 > 0 ? $4 / $3 : 0
              if ($2 > peak) peak = $2
              if ($5 > before_peak) before_peak = $5 }
            END {
                k = NR
                line = sprintf("%-12s %11s %8.3f %9.1f %8.3f %8.2f", n, sz, med(w, k), peak / 1024,
                               med(f, k), med(ra, k))
                if (before)
                    line = line sprintf(" %9.3f %8.2f %10.1f", med(b, k), med(rb, k), before_peak / 1024)
                print line
            }' "$samples"
    done
    echo "(median of $REPS rounds; ratio: the program's wall time over the floor's in the same round;"
    what="new files"
    [ "$REPLACE" = 0 ] || what="each replacing the last round's"
    echo " peak memory: the largest of the rounds; results: $what, in $OUT_DIR"
    echo " ($(df --output=fstype "$OUT_DIR" | tail -1)); $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
    exit 0
fi

printf '%-12s %11s %8s %8s %8s %9s %8s %9s\n' picture size "wall s" "cpu s" "max s" "peak MiB" "Mpx/s" \
    "out MB"
for name in "${NAMES[@]}"; do
    in=$IMAGES_DIR/$name.bmp
    out=$OUT_DIR/$name-thin.$EXT
    # Width and height from the BMP information header (bytes 18..25).
    read -r width height < <(od -An -t d4 -j 18 -N 8 "$in")
    size=${width}x${height#-}
    samples=$OUT_DIR/$name.times
    : >"$samples"
    for _ in $(seq "$REPS"); do
        /usr/bin/time -f '%e %U %S %M' -o "$OUT_DIR/time.txt" \
            "$CLI" --target 000000 --surround FFFFFF "${EXTRA[@]}" -o "$out" "$in"
        read -r wall user sys rss <"$OUT_DIR/time.txt"
        awk -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" 'BEGIN { print w, u + s, r }' \
            >>"$samples"
    done
    wall=$(cut -d' ' -f1 "$samples" | median)
    cpu=$(cut -d' ' -f2 "$samples" | median)
    worst=$(cut -d' ' -f1 "$samples" | sort -g | tail -1)
    rss=$(cut -d' ' -f3 "$samples" | sort -g | tail -1)
    awk -v n="$name" -v sz="$size" -v w="$wall" -v c="$cpu" -v x="$worst" -v r="$rss" \
        -v px="$((width * ${height#-}))" \
        -v o="$(stat -c %s "$out")" \
        'BEGIN { printf "%-12s %11s %8.2f %8.2f %8.2f %9.1f %8.0f %9.2f\n", n, sz, w, c, x, r / 1024, px / w / 1e6, o / 1e6 }'
done
echo "(results as .$EXT; median of $REPS runs; peak memory is the largest of them; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
