#!/usr/bin/env bash
# Fuzzes one bundled import plug-in for a number of seconds, one job at a
# low priority, in the build of the preset 'fuzz' (build/fuzz).
#
#   fuzz/spi/run-fuzzer.sh SECONDS png|jpeg|gif|tiff|webp [libFuzzer options...]
#
# The generated seeds start the corpus; what the fuzzer adds is kept in
# BUILD/fuzz/spi/corpus/<format> between runs. A crash is written to
# BUILD/fuzz/spi/crashes/<format>/: minimise it (-minimize_crash=1), add it
# to tests/spi/crashers/ as <format>-<what it breaks>, and fix it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:?usage: run-fuzzer.sh SECONDS png|jpeg|gif|tiff|webp [options...]}
format=${2:?usage: run-fuzzer.sh SECONDS png|jpeg|gif|tiff|webp [options...]}
shift 2
case $format in
  png | jpeg | gif | tiff | webp) ;;
  *) echo "run-fuzzer: unknown format '$format'" >&2; exit 2 ;;
esac

cd "$root"
cmake --preset fuzz >/dev/null
build=$root/build/fuzz
cmake --build "$build" --target "fuzz_spi_$format" fuzz_spi_seeds -j2

work=$build/fuzz/spi
corpus=$work/corpus/$format
crashes=$work/crashes/$format
mkdir -p "$corpus" "$crashes"
exec nice -n 19 "$build/bin/fuzz_spi_$format" "$corpus" "$work/seeds/$format" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@"
