#!/usr/bin/env bash
# Installs the Debian packages listed in tools/packages.txt that are missing.
set -euo pipefail
cd "$(dirname "$0")"
missing=()
while read -r package; do
  [ -z "$package" ] && continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done < <(sed 's/#.*//' packages.txt)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
