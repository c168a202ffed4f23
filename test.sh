#!/usr/bin/env bash
# Builds ncrewrite and runs every test: the unit and end-to-end tests in an
# optimised build and again under AddressSanitizer + UndefinedBehaviorSanitizer,
# then the checks in tools/checks/. Installs missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build test
for preset in release sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
for check in tools/checks/*.sh; do
  [ -e "$check" ] || continue
  echo "== $check"
  bash "$check"
done
echo "All tests passed."
