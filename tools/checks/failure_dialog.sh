#!/usr/bin/env bash
# The failure report as a dialog. Under a virtual X display of its own, a
# failing run shows the report with xmessage, stays alive while the dialog is
# open, and ends with status 1 only once OK is pressed. Keeps a screenshot of
# the dialog in build/artifacts/failure-dialog.png.
set -euo pipefail
cd "$(dirname "$0")/../.."
program=$PWD/build/release/src/driver/ncrewrite
artifacts=$PWD/build/artifacts
mkdir -p "$artifacts"

work=$(mktemp -d)
xvfb_pid=""
run_pid=""
cleanup() {
  if [ -n "$run_pid" ]; then kill "$run_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "failure_dialog: $*" >&2; exit 1; }

# Xvfb chooses a free display and names it on descriptor 3 once it is ready.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"

# A run that fails: the settings send the result to part.tap, a directory.
# The path holds < and &, which the dialog must show as they stand.
mkdir -p "$work/bin" "$work/a<b&c/part.tap"
cp "$program" "$work/ncrewrite"
printf '[common]\r\ntest=1\r\n' >"$work/ncrewrite.ini"
printf '%%\r\nM104\r\nM80\r\n' >"$work/a<b&c/part.nc"
# xmessage is the only dialog program the run can find.
ln -s "$(command -v xmessage)" "$work/bin/xmessage"
PATH="$work/bin" "$work/ncrewrite" "$work/a<b&c/part.nc" 2>"$work/stderr" &
run_pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Anwendungsfehler$' | head -n1) ||
  fail "no dialog captioned Anwendungsfehler appeared; stderr: $(cat "$work/stderr")"
[ "$(xdotool getwindowname "$window")" = "Anwendungsfehler" ] || fail "wrong caption"
sleep 1
kill -0 "$run_pid" 2>/dev/null || fail "the program ended while its dialog was open"
import -window root "$artifacts/failure-dialog.png"

# OK is the default button: Return presses it.
timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the dialog"
xdotool key Return
status=0
timeout 20 tail --pid="$run_pid" -f /dev/null || fail "the program did not end after OK"
wait "$run_pid" || status=$?
run_pid=""
[ "$status" -eq 1 ] || fail "exit status $status, not 1"
grep -q '^Exception EFCreateError in Modul ncrewrite bei [0-9A-F]\{16\}\.$' "$work/stderr" ||
  fail "no failure report on standard error: $(cat "$work/stderr")"
echo "failure_dialog: dialog shown and dismissed, status 1; screenshot in $artifacts/failure-dialog.png"
