#!/usr/bin/env bash
# Compiles every portable source file for Windows with the mingw-w64 cross
# compiler and the project's warnings as errors, without linking: every
# .cpp under src/ and fuzz/ that is not tied to one platform by its name
# (*_posix.cpp, *_win32.cpp, and *_posix_*.cpp, *_win32_*.cpp such as the
# tests and test programs of one platform), tests included. New files are
# found by the glob; any that does not compile fails the check, with its
# diagnostics.
set -euo pipefail
cd "$(dirname "$0")/../.."
compiler=${NCREWRITE_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
command -v "$compiler" >/dev/null ||
  { echo "mingw-compile: $compiler not found (Debian package g++-mingw-w64-x86-64-posix)" >&2; exit 1; }
gtest=/usr/src/googletest
[ -d "$gtest/googletest/include" ] ||
  { echo "mingw-compile: no GoogleTest sources in $gtest (Debian package googletest)" >&2; exit 1; }

mapfile -t sources < <(find src fuzz -name '*.cpp' \
  ! -name '*_posix.cpp' ! -name '*_win32.cpp' ! -name '*_posix_*.cpp' ! -name '*_win32_*.cpp' |
  sort)
[ ${#sources[@]} -gt 0 ] || { echo "mingw-compile: no sources found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export compiler gtest work
# One file: its object and its diagnostics go to the scratch directory; the
# file's name is kept in failed/ when it does not compile.
compile() {
  local source=$1 name=${1//\//_}
  if ! "$compiler" -std=c++20 -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Werror \
      -fdiagnostics-color=never -Isrc -isystem "$gtest/googletest/include" \
      -isystem "$gtest/googlemock/include" \
      '-DNCREWRITE_EXECUTABLE="ncrewrite.exe"' '-DNCREWRITE_LEAK_PROBE="ncrewrite_leak_probe.exe"' \
      '-DNCREWRITE_TEST_CHILD="ncrewrite_test_child.exe"' \
      '-DNCREWRITE_FALLBACK_PROBE="ncrewrite_fallback_probe.exe"' \
      '-DNCREWRITE_TESTS_FILE_NAME="ncrewrite_tests.exe"' \
      '-DNCREWRITE_PROFILE_CORPUS="profile_corpus"' '-DNCREWRITE_SAMPLE_SETTINGS="ncrewrite.ini"' \
      -c "$source" -o "$work/$name.o" >"$work/$name.log" 2>&1; then
    mkdir -p "$work/failed"
    { echo "---- $source"; cat "$work/$name.log"; } >"$work/failed/$name.log"
  fi
}
export -f compile
printf '%s\0' "${sources[@]}" | xargs -0 -n1 -P2 bash -c 'compile "$0"'

if [ -d "$work/failed" ]; then
  for log in "$work"/failed/*.log; do head -n 40 "$log"; done
  echo "mingw-compile: $(ls "$work/failed" | wc -l) of ${#sources[@]} files do not compile for Windows" >&2
  exit 1
fi
echo "mingw-compile: ${#sources[@]} portable files compile for Windows"
