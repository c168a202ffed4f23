#!/usr/bin/env bash
# Installs the Debian packages that are missing from the lists named on the
# command line: `build` (tools/packages-build.txt) or `test`
# (tools/packages-test.txt).
set -euo pipefail
cd "$(dirname "$0")"
[ $# -gt 0 ] || { echo "usage: $0 build|test ..." >&2; exit 2; }
missing=()
for list in "$@"; do
  [ -f "packages-$list.txt" ] || { echo "$0: no list packages-$list.txt" >&2; exit 2; }
  while read -r package; do
    [ -z "$package" ] && continue
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done < <(sed 's/#.*//; s/[[:space:]]//g' "packages-$list.txt")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
