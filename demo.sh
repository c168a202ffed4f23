#!/usr/bin/env bash
# Builds ncrewrite and runs it on a copy of examples/part.nc, showing the
# program before and after the rewrite.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build/release/src/driver/ncrewrite "$work/"
cp examples/part.nc "$work/part.nc"
status=0
"$work/ncrewrite" "$work/part.nc" || status=$?
echo "Exit status: $status"
echo "---- before (examples/part.nc) ---- after ----"
diff -y -W 70 --strip-trailing-cr examples/part.nc "$work/part.nc" || true
