#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are not
# installed yet, without questions. Needs root (or sudo) only when
# something is missing.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

missing=()
while read -r pkg; do
  pkg=${pkg%%#*}
  pkg=${pkg// /}
  [ -n "$pkg" ] || continue
  # The i386 part of a package exists only beside amd64.
  [[ $pkg != *:i386 ]] || [ "$(dpkg --print-architecture)" = amd64 ] || continue
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done <"$here/debian-packages.txt"

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
# A package of another architecture (name:arch) needs that architecture
# known to dpkg first.
for pkg in "${missing[@]}"; do
  [[ $pkg == *:* ]] || continue
  arch=${pkg##*:}
  if [ "$arch" != "$(dpkg --print-architecture)" ] &&
    ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    echo "install-deps: adding the $arch architecture"
    "${sudo[@]}" dpkg --add-architecture "$arch"
  fi
done
# A mirror in the middle of a sync fails the update of some list; the
# lists at hand may still hold every package, and the install says so if
# they do not.
if ! "${sudo[@]}" apt-get update -qq; then
  echo "install-deps: some package lists could not be updated; installing from those at hand"
fi
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
