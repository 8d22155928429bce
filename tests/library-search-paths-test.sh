#!/usr/bin/env bash
# Every program, library and plug-in of the program's folder looks for
# libraries only in folders named absolutely or relative to its own place
# ($ORIGIN). An empty entry in a search path, or a relative one, is a folder
# relative to wherever the program was started, and a library planted there
# would be loaded into it.
set -euo pipefail
folder=$1
command -v readelf >/dev/null || { echo "skipped: readelf (binutils) is not installed"; exit 77; }

checked=0
failed=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  checked=$((checked + 1))
  path=$(readelf -d "$file" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\2/p')
  [ -n "$path" ] || continue
  if [[ ":$path:" == *::* ]]; then
    echo "FAILED: $file: empty entry in its search path '$path'"
    failed=1
    continue
  fi
  IFS=: read -r -a entries <<<"$path"
  for entry in "${entries[@]}"; do
    case "$entry" in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *)
        echo "FAILED: $file: relative entry '$entry' in its search path '$path'"
        failed=1
        ;;
    esac
  done
done < <(find "$folder" -type f -print0)
[ "$checked" -gt 0 ] || { echo "FAILED: no ELF file in $folder"; exit 1; }
echo "$checked files checked"
exit "$failed"
