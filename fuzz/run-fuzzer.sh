#!/usr/bin/env bash
# Builds the preset 'fuzz' and fuzzes one target for a number of seconds.
#
#   fuzz/run-fuzzer.sh SECONDS [bmp|ico|dib] [extra libFuzzer options...]
#
# The generated seeds start the corpus; what the fuzzer adds is kept in
# build/fuzz/corpus/<target> between runs. A crash is written to
# build/fuzz/crashes/<target>/: minimise it (-minimize_crash=1), fix the
# reader, and add the file to tests/data/bmp/crashers/ under a name that says
# what it broke; the unit test BmpReader.FuzzerCrashersStayFixed feeds every
# file there through the reader.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
seconds=${1:?usage: run-fuzzer.sh SECONDS [bmp|ico|dib] [libFuzzer options...]}
kind=${2:-bmp}
shift $(( $# >= 2 ? 2 : 1 ))

case $kind in
  bmp) target=fuzz_bmp_reader; seed_target=fuzz_seeds; seeds=fuzz/seeds/bmp ;;
  ico) target=fuzz_icon; seed_target=fuzz_seeds; seeds=fuzz/seeds/ico ;;
  dib) target=fuzz_dib; seed_target=fuzz_dib_seeds; seeds=fuzz/dib/seeds/dib ;;
  *) echo "run-fuzzer: unknown target '$kind' (bmp, ico or dib)" >&2; exit 2 ;;
esac

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$target" "$seed_target" -j2

build=$root/build/fuzz
corpus=$build/corpus/$target
crashes=$build/crashes/$target
mkdir -p "$corpus" "$crashes"
exec "$build/bin/$target" "$corpus" "$build/$seeds" \
  -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@"
