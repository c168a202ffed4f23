#!/usr/bin/env bash
# The Windows program's message boxes as a user sees them: under Wine, on a
# virtual X display of this check's own, a probe program reads each box
# (caption, text, buttons, icon), checks that the program waits for OK, and
# presses it. Three tables (tools/wine/boxes_check.py): the failure report
# of every failure kind a user can bring about, the fallback report of a
# failed start-up and shutdown, and the leak report under a small debugger.
# Keeps a picture of the failure report in build/artifacts/; with
# --screenshot PATH it goes to PATH instead (the README's picture is made so).
#
# Builds what it needs with the windows preset, uses a Wine prefix and a
# display of its own, and ends both (wineserver -k, Xvfb) on every path.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
screenshot=$root/build/artifacts/wine-failure-report.png
if [ "${1:-}" = "--screenshot" ] && [ -n "${2:-}" ]; then
  screenshot=$(realpath -m "$2")
elif [ $# -gt 0 ]; then
  echo "usage: $0 [--screenshot PATH]" >&2
  exit 2
fi
fail() { echo "wine-boxes: $*" >&2; exit 1; }
started=$SECONDS

echo "-- building the programs (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target ncrewrite ncrewrite_leak_probe \
  ncrewrite_fallback_probe ncrewrite_box_probe ncrewrite_debugger >/dev/null ||
  fail "building the programs failed: cmake --build --preset windows"
build_seconds=$((SECONDS - started))

work=$(mktemp -d "${TMPDIR:-/tmp}/ncrewrite-boxes.XXXXXX")
xvfb_pid=""
full_disk=""
export NCREWRITE_WINEPREFIX=$work/prefix NCREWRITE_WINESERVER_SECONDS=600
cleanup() {
  WINEPREFIX=$NCREWRITE_WINEPREFIX wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -n "$full_disk" ]; then umount "$full_disk" 2>/dev/null || umount -l "$full_disk" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Xvfb picks a display number that no other X server uses and names it on
# descriptor 3 once it takes connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 300); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
# tools/wine/run.sh gives its programs no display unless asked to.
export NCREWRITE_WINE_DISPLAY=$DISPLAY

echo "-- a Wine prefix of this check's own, on display $DISPLAY"
# Made on first use. Without a window manager no one draws a window's
# caption: Wine draws it itself, as Windows does.
tools/wine/run.sh reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
  >"$work/reg.log" 2>&1 || fail "cannot set up the Wine prefix: $(cat "$work/reg.log")"
# The symbols on the caption's buttons come from the Marlett font, which a
# new prefix does not list: without it the close button shows a letter.
marlett=/usr/share/wine/fonts/marlett.ttf
if [ -f "$marlett" ]; then cp "$marlett" "$NCREWRITE_WINEPREFIX/drive_c/windows/Fonts/"; fi
prefix_seconds=$((SECONDS - started - build_seconds))

# A disk of 256 kB for the full-disk row; mounting needs root.
mkdir -p "$NCREWRITE_WINEPREFIX/drive_c/jobs/full-disk"
if mount -t tmpfs -o size=256k ncrewrite-full "$NCREWRITE_WINEPREFIX/drive_c/jobs/full-disk" \
     2>/dev/null; then
  full_disk=$NCREWRITE_WINEPREFIX/drive_c/jobs/full-disk
fi

python3 tools/wine/boxes_check.py --build "$root/build/windows" --work "$work" \
  --screenshot "$screenshot" ${full_disk:+--full-disk}
echo "wine-boxes: all boxes as expected; picture of the failure report in $screenshot" \
     "(build ${build_seconds} s, prefix ${prefix_seconds} s, in all $((SECONDS - started)) s)"
