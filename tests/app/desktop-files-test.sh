#!/usr/bin/env bash
# The desktop entry and the AppStream metadata as Debian's validators judge
# them, and what the two must agree on. Exits 77 (skipped) with the reason
# when a validator is missing.
set -euo pipefail
desktop=$1
metainfo=$2

missing=()
command -v desktop-file-validate >/dev/null || missing+=("desktop-file-validate (desktop-file-utils)")
command -v appstreamcli >/dev/null || missing+=("appstreamcli (appstream)")
if [ ${#missing[@]} -gt 0 ]; then
  echo "skipped: not installed: ${missing[*]}; scripts/install-deps.sh installs them"
  exit 77
fi

fail() {
  echo "FAILED: $*"
  exit 1
}

desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli rejects $metainfo"

# The metadata is named after its id and names the desktop entry.
id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo")
[ "$(basename "$metainfo")" = "$id.metainfo.xml" ] || fail "$metainfo is not named $id.metainfo.xml"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" ||
  fail "$metainfo does not name $(basename "$desktop")"

# The file manager hands one file to the program.
grep -qx 'Exec=kevrale %f' "$desktop" || fail "Exec is not 'kevrale %f'"
grep -q '^Categories=.*Graphics;2DGraphics;' "$desktop" || fail "Categories lack Graphics;2DGraphics;"

# Both list the same media types: BMP and those of the bundled plug-ins.
entry_types=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d' | sort)
metainfo_types=$(sed -n 's:.*<mediatype>\(.*\)</mediatype>.*:\1:p' "$metainfo" | sort)
[ "$entry_types" = "$metainfo_types" ] ||
  fail "media types differ: desktop entry [$entry_types] metadata [$metainfo_types]"
for type in image/bmp image/png image/jpeg image/gif image/tiff image/webp; do
  grep -qx "$type" <<<"$entry_types" || fail "$type is not listed"
done
echo "desktop entry and metadata valid"
