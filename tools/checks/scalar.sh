#!/usr/bin/env bash
# Builds without SSE2 (the scalar preset: NCREWRITE_NO_SSE2, under the
# sanitizers), so that the portable branches of the text walks compile and
# are tested here too, and runs the rule, line-list and text-file tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset scalar >/dev/null
cmake --build --preset scalar
# The walks must really be the portable ones in this build.
grep -q -- '-DNCREWRITE_NO_SSE2' build/scalar/compile_commands.json ||
  { echo "scalar: the build does not define NCREWRITE_NO_SSE2" >&2; exit 1; }
ctest --preset scalar
