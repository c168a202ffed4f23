#!/usr/bin/env bash
# Builds ncrewrite and runs every test: the unit and end-to-end tests in an
# optimised build and again under AddressSanitizer + UndefinedBehaviorSanitizer,
# the Windows program cross-built and tested under Wine, then the checks in
# tools/checks/. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build test
for preset in release sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

# Windows: one Wine prefix for this run, made fresh (about 10 s, 700 MB),
# and one wineserver that lives as long as the run and is ended after it.
# The build runs the test program too, to list its tests.
wine_run=$(mktemp -d "${TMPDIR:-/tmp}/ncrewrite-wine.XXXXXX")
export NCREWRITE_WINEPREFIX=$wine_run/prefix NCREWRITE_WINESERVER_SECONDS=3600
end_wine() {
  WINEPREFIX=$NCREWRITE_WINEPREFIX wineserver -k 2>/dev/null || true
  rm -rf "$wine_run"
}
trap end_wine EXIT
started=$SECONDS
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows
end_wine
trap - EXIT
unset NCREWRITE_WINEPREFIX NCREWRITE_WINESERVER_SECONDS
echo "== Windows build and tests under Wine: $((SECONDS - started)) s"

for check in tools/checks/*.sh; do
  [ -e "$check" ] || continue
  echo "== $check"
  bash "$check"
done
echo "All tests passed."
