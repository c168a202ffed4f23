#!/usr/bin/env bash
# Fuzzes each libFuzzer target for a bounded time (NCREWRITE_FUZZ_SECONDS,
# 30 by default), starting from the seed corpus. New inputs go to a scratch
# directory, not into the repository; a crash leaves its input in
# build/fuzz/artifacts/ and fails the check.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${NCREWRITE_FUZZ_SECONDS:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/artifacts
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  echo "-- fuzzing $name for ${seconds}s"
  if ! "build/fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
      -dict="fuzz/$name.dict" -artifact_prefix="build/fuzz/artifacts/$name-" \
      "$scratch" "$corpus" >"$scratch/log" 2>&1; then
    tail -n 40 "$scratch/log"
    echo "fuzz_$name found a failure; its input is in build/fuzz/artifacts/"
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$scratch/log"
  rm -rf "$scratch"
  trap - EXIT
done
