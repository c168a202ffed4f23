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
  # Two tests that start at once must not both make the prefix, nor both
  # start the wineserver.
  flock 9
  if [ ! -e "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  # A wineserver started now (status 0; 2 when one runs) has no services
  # yet. The first program started would start them, and they would keep
  # its standard output and error open until the server ends, a minute
  # later: whoever reads them (test discovery, a test) would wait that
  # long. So they are started here by a program whose streams go nowhere.
  # Neither may inherit the lock.
  if wineserver -p60 >/dev/null 2>&1 9>&-; then
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
