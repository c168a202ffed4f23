#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, which is
# made on first use: NCREWRITE_WINEPREFIX, or build/wine-prefix in the
# source tree. Wine's own diagnostics stay off standard error, which the
# tests read. A wineserver is kept alive between runs, so that each start
# costs milliseconds instead of half a second.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${NCREWRITE_WINEPREFIX:-$here/../../build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$WINEPREFIX"
(
  # Two tests that start at once must not both make the prefix.
  flock 9
  if [ ! -e "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
    wineserver -w
  fi
  # A fresh wineserver (status 0; 2 when one runs) starts Wine's services
  # with the first program, and they inherit its standard error: started by
  # a test, they would keep the test's output pipe open, and its runner
  # waiting, for as long as the server lives. A program of no consequence
  # starts them with nothing open, not even the lock.
  if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
