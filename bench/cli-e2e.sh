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
#   bench/cli-e2e.sh --formats              the line art as PNG (grey and
#                                           RGB), TIFF and JPEG into PNG and
#                                           TIFF results, against BMP -> BMP
#                                           and PIL reading and writing the
#                                           same file; a 12500 x 20000 grey
#                                           PNG and TIFF scan (peak memory);
#                                           BMP -> BMP replacing its last
#                                           result against cp onto its last
#                                           copy; sizes against PIL's default
#                                           save of the result (python3-pil)
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
FORMATS=0
if [ "${1:-}" = --vs ]; then
    VS=1
    shift
elif [ "${1:-}" = --formats ]; then
    FORMATS=1
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
[ "$FORMATS" = 0 ] || NAMES=(lineart-4k)

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
    elif [ "$FORMATS" = 1 ]; then
        sync  # the caller has removed the one file to be written
    fi
    start=$(date +%s%N)
    /usr/bin/time -f '%U %S %M' -o "$OUT_DIR/time.txt" "$@"
    end=$(date +%s%N)
    read -r user sys rss <"$OUT_DIR/time.txt"
    awk -v w="$(((end - start) / 1000))" -v u="$user" -v s="$sys" -v r="$rss" \
        'BEGIN { printf "%.6f %s %s\n", w / 1e6, u + s, r }'
}

# --formats: every case in turn with BMP -> BMP and PIL, REPS rounds, the
# ratios taken round by round; each run writes a new file after an untimed
# clean-up and sync. Then REPS replacing pairs, which replace their last
# result and copy.
if [ "$FORMATS" = 1 ]; then
    PY=/usr/bin/python3
    "$PY" -c 'import PIL' 2>/dev/null || die "$PY with PIL (python3-pil) is needed"
    "$PY" "$ROOT/bench/format-sources.py" "$IMAGES_DIR"
    img=$IMAGES_DIR
    # case name, source, result extension
    CASES=(
        "bmp->bmp lineart-4k.bmp bmp"
        "grey-png->png lineart-4k-grey.png png"
        "rgb-png->png lineart-4k-rgb.png png"
        "tif->tif lineart-4k-deflate.tif tif"
        "jpg->png lineart-4k-q90.jpg png"
        "jpg->tif lineart-4k-q90.jpg tif"
        "bmp->png lineart-4k.bmp png"
        "big-png->png scan-12500x20000.png png"
        "big-tif->tif scan-12500x20000.tif tif"
    )
    pil_rw='import sys
from PIL import Image
Image.MAX_IMAGE_PIXELS = None
Image.open(sys.argv[1]).save(sys.argv[2])'
    samples=$OUT_DIR/formats.samples
    : >"$samples"
    cp "$img/lineart-4k.bmp" "$OUT_DIR/replace-copy.bmp"
    "$CLI" --target 000000 --surround FFFFFF -o "$OUT_DIR/replace-last.bmp" "$img/lineart-4k.bmp"
    for round in $(seq "$REPS"); do
        rm -f "$OUT_DIR/base.bmp"
        read -r base_wall _ _ < <(timed "$CLI" --target 000000 --surround FFFFFF \
            -o "$OUT_DIR/base.bmp" "$img/lineart-4k.bmp")
        for c in "${CASES[@]}"; do
            read -r name src ext <<<"$c"
            out=$OUT_DIR/$name-thin.$ext
            out=${out//->/-to-}
            rm -f "$out" "$OUT_DIR/$name-pil.${src##*.}"
            read -r wall cpu rss < <(timed "$CLI" --target 000000 --surround FFFFFF -o "$out" "$img/$src")
            pw=0 pc=0
            case $name in big-*) ;; *)
                read -r pw pc _ < <(timed "$PY" -c "$pil_rw" "$img/$src" "$OUT_DIR/$name-pil.${src##*.}") ;;
            esac
            echo "$round $name $wall $cpu $rss $base_wall $pw $pc $(stat -c %s "$out")" >>"$samples"
        done
    done
    # Replacing the last result, against cp onto the last copy, in pairs of
    # their own after the rounds (so that neither runs just after the large
    # scans), the one first in one pair, the other in the next; the disk
    # quiet first (sync) for each.
    replace_ours() {
        sync
        local start end
        start=$(date +%s%N)
        "$CLI" --target 000000 --surround FFFFFF -o "$OUT_DIR/replace-last.bmp" "$img/lineart-4k.bmp"
        end=$(date +%s%N)
        ours=$(((end - start) / 1000))
    }
    replace_cp() {
        sync
        local start end
        start=$(date +%s%N)
        cp "$img/lineart-4k.bmp" "$OUT_DIR/replace-copy.bmp"
        end=$(date +%s%N)
        copy=$(((end - start) / 1000))
    }
    for round in $(seq "$REPS"); do
        if [ $((round % 2)) = 1 ]; then
            replace_ours
            replace_cp
        else
            replace_cp
            replace_ours
        fi
        echo "$round replace $ours $copy" >>"$OUT_DIR/formats.replace"
    done
    # The size of PIL's default save of each result, in the result's own
    # colour type and format.
    pil_size='import io, sys
from PIL import Image
Image.MAX_IMAGE_PIXELS = None
for path in sys.argv[1:]:
    im = Image.open(path)
    b = io.BytesIO()
    im.save(b, im.format)
    print(path, im.mode, b.tell())'
    "$PY" -c "$pil_size" "$OUT_DIR"/*-thin.png "$OUT_DIR"/*-thin.tif >"$OUT_DIR/formats.pil"
    "$PY" - "$samples" "$OUT_DIR/formats.pil" "$OUT_DIR/formats.replace" <<'PYEOF'
import statistics as st, sys
rows = [l.split() for l in open(sys.argv[1])]
pil = {l.split()[0].rsplit('/', 1)[1]: l.split()[1:] for l in open(sys.argv[2])}
names = list(dict.fromkeys(r[1] for r in rows))
print(f"{'case':15} {'wall s':>7} {'cpu s':>6} {'peak MiB':>8} {'/bmp':>5} {'PIL s':>6} {'PIL cpu':>7}"
      f" {'/PIL':>5} {'KB':>8} {'mode':>5} {'PIL KB':>8} {'size/PIL':>8}")
for n in names:
    r = [x for x in rows if x[1] == n]
    med = lambda i: st.median(float(x[i]) for x in r)
    ratio = st.median(float(x[2]) / float(x[5]) for x in r)
    pil_ratio = st.median(float(x[2]) / float(x[6]) for x in r) if float(r[0][6]) > 0 else 0
    key = n.replace('->', '-to-') + '-thin.' + ('png' if n.endswith('png') else 'tif' if n.endswith('tif') else 'bmp')
    mode, pil_bytes = pil.get(key, ['-', '0'])
    size = int(r[-1][8])
    print(f"{n:15} {med(2):7.3f} {med(3):6.2f} {max(float(x[4]) for x in r) / 1024:8.1f} {ratio:5.2f}"
          f" {med(6):6.3f} {med(7):7.2f} {pil_ratio:5.2f} {size / 1000:8.1f} {mode:>5}"
          f" {int(pil_bytes) / 1000:8.1f} {size / int(pil_bytes) if int(pil_bytes) else 0:8.2f}")
rep = [l.split() for l in open(sys.argv[3])]
print(f"bmp->bmp replacing its last result {st.median(float(x[2]) for x in rep) / 1e6:.3f} s,"
      f" cp onto its last copy {st.median(float(x[3]) for x in rep) / 1e6:.3f} s,"
      f" ratio {st.median(float(x[2]) / float(x[3]) for x in rep):.2f} (median of pairs, each first in turn)")
PYEOF
    rm -f "$OUT_DIR/formats.replace"
    echo "(median of $REPS rounds; /bmp: wall time over BMP -> BMP in the same round; /PIL: over PIL"
    echo " reading and writing the same file; size/PIL: the result over PIL's default save of it in"
    echo " its own colour type; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
    exit 0
fi

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
