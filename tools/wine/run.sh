#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, which is
# made on first use: NCREWRITE_WINEPREFIX, or build/wine-prefix in the
# source tree. Wine's own diagnostics stay off standard error, which the
# tests read. A wineserver is kept alive between runs, so that each start
# costs milliseconds instead of half a second: for NCREWRITE_WINESERVER_SECONDS
# (60) after the last program ends; ./test.sh ends it itself.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${NCREWRITE_WINEPREFIX:-$here/../../build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine gives programs the ANSI code page of the locale: C.UTF-8, whose code
# page is Windows-1252, whatever the caller's locale, unless
# NCREWRITE_WINE_LOCALE names another (tools/wine/run-in-locale.sh).
unset LANGUAGE
export LC_ALL=${NCREWRITE_WINE_LOCALE:-C.UTF-8}
# Wine shows windows on the X display that the Unix environment names, and
# a Windows program cannot take it from the programs that it starts (they
# get the Unix environment of their parent, whatever Windows environment
# they are given). So the programs run without one, and a message box
# returns at once instead of waiting for someone to press OK, as the tests
# expect; NCREWRITE_WINE_DISPLAY gives them one on purpose.
unset WAYLAND_DISPLAY
if [ -n "${NCREWRITE_WINE_DISPLAY:-}" ]; then
  export DISPLAY=$NCREWRITE_WINE_DISPLAY
else
  unset DISPLAY
fi
mkdir -p "$WINEPREFIX"
(
  # Two tests that start at once must not both make the prefix.
  flock 9
  # Status 0: this started the server; 2: one runs already.
  started=0
  wineserver -p"${NCREWRITE_WINESERVER_SECONDS:-60}" </dev/null >/dev/null 2>&1 9>&- && started=1
  # The first program of a fresh server starts Wine's services, and they
  # inherit its standard error and open files: started by a test, they would
  # keep the test's output pipe open, and its runner waiting, and this lock
  # held, for as long as the server lives. Making the prefix, or a program
  # of no consequence, starts them here with nothing open.
  if [ ! -e "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
  elif [ "$started" = 1 ]; then
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
