#!/usr/bin/env bash
# Runs the release executable under valgrind on a normal run and on each
# failure that the shell can bring about, and fails when a run leaves any
# memory block in use (reachable or not) or touches memory wrongly.
set -euo pipefail
cd "$(dirname "$0")/../.."
[ -x build/release/src/driver/ncrewrite ] || { cmake --preset release >/dev/null && cmake --build --preset release; }
# Without a display no failure report waits for OK.
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp build/release/src/driver/ncrewrite "$work/ncrewrite"
program=$'%\r\nM104\r\nG1 X1\r\nM80\r\nM81\r\nM30\r\n'

# Runs the program under valgrind on $work/part.nc; expects exit status $1
# and, for a failure, the kind name $2 on standard error.
# Words in the array "limits" go before valgrind (a prlimit call).
limits=()
check() {
  local expected=$1 kind=${2:-} status=0
  "${limits[@]}" valgrind -q --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
    --error-exitcode=99 "${@:3}" "$work/ncrewrite" "$work/part.nc" 2>"$work/err" || status=$?
  if [ "$status" -ne "$expected" ] || { [ -n "$kind" ] && ! grep -q "$kind" "$work/err"; }; then
    echo "expected status $expected $kind, got $status:"; cat "$work/err"; exit 1
  fi
  echo "ok: status $status ${kind:-(normal run)}"
}

printf '%s' "$program" >"$work/part.nc"
check 0

printf '\xEF\xBB\xBFM104\n\xFF\n' >"$work/part.nc"
check 1 EEncodingError

printf '%s' "$program" >"$work/part.nc"
( exec 9<"$work/part.nc"; flock -x 9; check 1 EFOpenError )

printf '[common]\ntest=1\n' >"$work/ncrewrite.ini"
mkdir "$work/part.tap"
check 1 EFCreateError
rmdir "$work/part.tap"
head -c 200000 /dev/zero | tr '\0' 'x' >"$work/part.nc"
# SIGXFSZ at its default, as a shell leaves it: the program must cope itself.
# The limit binds the program alone: this script's own output may go to a log
# that is already larger than the limit, and a shell writing past it dies.
limits=(prlimit --fsize=65536 --)
check 1 EWriteError
