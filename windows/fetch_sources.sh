#!/usr/bin/env bash
# The dependencies' Debian source packages, fetched once into CACHE and
# checked against sources.lock. Only Debian's archive is used: a deb-src
# entry exists for the length of the download and is removed afterwards.
#   fetch_sources.sh CACHE          fetch what is missing, check every file
#   fetch_sources.sh CACHE --lock   record what was fetched into sources.lock
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
mkdir -p "$cache"
lock="$here/sources.lock"

missing() {
  local package version file
  while read -r package version file _; do
    case "$package" in '#'* | '') continue ;; esac
    [ -f "$cache/$file" ] || { echo "$package=$version"; }
  done <"$lock" | sort -u
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The deb-src entry lives only while the download runs, whichever way it ends.
list=
remove_list() {
  [ -n "$list" ] || return 0
  as_root rm -f "$list"
  list=
  as_root apt-get update -qq || true
}
trap remove_list EXIT

fetch() {
  # Debian's own entries, turned into source entries.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    list=/etc/apt/sources.list.d/lumirex-deb-src.sources
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      as_root tee "$list" >/dev/null
  else
    list=/etc/apt/sources.list.d/lumirex-deb-src.list
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee "$list" >/dev/null
  fi
  as_root apt-get update -qq
  # A security update replaces a version in the archive: the lock must follow.
  (cd "$cache" && apt-get source --download-only "$@") || {
    echo "fetch_sources.sh: cannot fetch $*; if the archive has a newer version, record it" \
      "with: windows/fetch_sources.sh $cache --lock (then review and commit windows/sources.lock)" >&2
    exit 1
  }
  remove_list
}

if [ "${2:-}" = --lock ]; then
  fetch curl sqlite3 soci pugixml cpp-httplib
  {
    echo "# Debian source packages the Windows build is made from: package, version, file, SHA-256."
    for dsc in "$cache"/*.dsc; do
      package=$(sed -n 's/^Source: //p' "$dsc")
      version=$(sed -n 's/^Version: //p' "$dsc")
      for file in "$(basename "$dsc")" $(awk '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on {print $3}' "$dsc"); do
        echo "$package $version $file $(sha256sum "$cache/$file" | cut -d' ' -f1)"
      done
    done
  } >"$lock"
  exit 0
fi

mapfile -t wanted < <(missing)
if [ ${#wanted[@]} -gt 0 ]; then fetch "${wanted[@]}"; fi
while read -r package version file sum; do
  case "$package" in '#'* | '') continue ;; esac
  echo "$sum  $cache/$file"
done <"$lock" | sha256sum --quiet -c -
