#!/usr/bin/env bash
# Builds as someone building from source does, without the presets: a plain
# Release configure and build in a fresh directory must succeed whatever
# the compiler warns about (warnings are errors only in the presets). Then,
# configure only: a project that embeds ncrewrite, and the demo's preset,
# must not need GoogleTest.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
mkdir -p build
scratch=$(mktemp -d "$PWD/build/from-source.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

echo "-- plain Release build"
if ! { cmake -S . -B "$scratch/plain" -DCMAKE_BUILD_TYPE=Release &&
       cmake --build "$scratch/plain" --parallel 2; } >"$scratch/plain.log" 2>&1; then
  tail -n 60 "$scratch/plain.log"
  echo "build-from-source: the plain Release build fails" >&2
  exit 1
fi
[ -x "$scratch/plain/src/driver/ncrewrite" ] ||
  { echo "build-from-source: the plain Release build made no program" >&2; exit 1; }
warnings=$(grep -c 'warning:' "$scratch/plain.log" || true)
echo "built; $warnings compiler warnings"

# With find_package(GTest) made to fail, configuring succeeds only when
# nothing asks for GoogleTest.
no_gtest=-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
echo "-- embedded in another project"
mkdir -p "$scratch/outer"
cat >"$scratch/outer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(outer LANGUAGES CXX)
add_subdirectory("$source_dir" ncrewrite)
CMAKE
cmake -S "$scratch/outer" -B "$scratch/outer/build" "$no_gtest" >"$scratch/outer.log" 2>&1 ||
  { cat "$scratch/outer.log"; echo "build-from-source: embedding needs GoogleTest" >&2; exit 1; }
echo "-- the program preset"
cmake --preset program -B "$scratch/program" "$no_gtest" >"$scratch/program.log" 2>&1 ||
  { cat "$scratch/program.log"; echo "build-from-source: the program preset needs GoogleTest" >&2; exit 1; }
echo "build-from-source: plain build, embedding and the program preset work"
