#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each once over its seed corpus in fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  echo "-- replaying $name"
  "build/fuzz/fuzz/fuzz_$name" -runs=0 "$corpus" 2>&1 | tail -1
done
