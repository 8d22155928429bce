#!/usr/bin/env bash
# Checks that each folder includes only from the layers below it, as
# README.md's layout table draws them: a folder may include from a folder of
# a lower rank, never from its own rank's neighbours or from above. Tests,
# benchmarks and fuzz targets may include anything.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

declare -A rank=(
  [include]=0
  [platform]=1 [localmem]=1 [spi]=1
  [runner]=2
  [picture]=3 [ipc]=3
  [thinning]=4 [plugins]=4
  [batch]=5
  [cli]=6 [desktop]=6 [python]=6
  [about]=7
  [app]=8
)
# The local-memory library takes the platform's huge-page advice: the two
# form the bottom layer together.
allowed_extra=" localmem:platform "

status=0
while IFS= read -r file; do
  folder=${file%%/*}
  [ -n "${rank[$folder]+x}" ] || continue
  while IFS= read -r included; do
    target=${included%%/*}
    [ "$target" = "$folder" ] && continue
    [ -n "${rank[$target]+x}" ] || continue
    [[ "$allowed_extra" == *" $folder:$target "* ]] && continue
    if [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
      echo "check-layers: $file includes $included, from a layer that is not below $folder/"
      status=1
    fi
  done < <(sed -n -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')

[ "$status" -eq 0 ] && echo "check-layers: every folder includes only from the layers below it"
exit "$status"
