#!/usr/bin/env bash
# Builds ncrewrite and runs it on a copy of examples/part.nc, showing the
# program before and after the rewrite. Needs only what building the program
# needs: the tests are not built.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build
cmake --preset program >/dev/null
cmake --build --preset program >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build/program/src/driver/ncrewrite "$work/"
cp examples/part.nc "$work/part.nc"
status=0
"$work/ncrewrite" "$work/part.nc" || status=$?
echo "Exit status: $status"
echo "---- before (examples/part.nc) ---- after ----"
diff -y -W 70 --strip-trailing-cr examples/part.nc "$work/part.nc" || true
