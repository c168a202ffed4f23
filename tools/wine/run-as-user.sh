#!/usr/bin/env bash
# Runs a Windows test program under Wine as an ordinary user, for the tests
# about permissions: Wine run by root opens read-only files for writing,
# as Windows never does. As root, the program and the program under test
# are copied into a fresh directory of the user nobody, and run there as
# that user with a Wine prefix of its own (made in about 7 s), whose
# wineserver is ended afterwards. Any other user runs them as they are.
# NCREWRITE_EXPECT_READ_ONLY=honoured tells the tests that read-only files
# must be refused here, so that they cannot skip.
#   run-as-user.sh TEST-PROGRAM PROGRAM-UNDER-TEST [ARGUMENT...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { echo "usage: $0 TEST-PROGRAM PROGRAM-UNDER-TEST [ARGUMENT...]" >&2; exit 2; }
tests=$1
program=$2
shift 2
export NCREWRITE_EXPECT_READ_ONLY=honoured
if [ "$(id -u)" -ne 0 ]; then
  NCREWRITE_PROGRAM_UNDER_TEST=$program exec "$here/run.sh" "$tests" "$@"
fi

user=65534
home=$(mktemp -d "${TMPDIR:-/tmp}/ncrewrite-user.XXXXXX")
as_user() {
  setpriv --reuid=$user --regid=$user --clear-groups \
    env -u XDG_RUNTIME_DIR HOME="$home" USER=nobody LOGNAME=nobody \
    NCREWRITE_WINEPREFIX="$home/prefix" WINEPREFIX="$home/prefix" "$@"
}
finish() {
  as_user wineserver -k >/dev/null 2>&1 || true
  rm -rf "$home"
}
trap finish EXIT
cp "$tests" "$program" "$here/run.sh" "$home/"
chown -R "$user:$user" "$home"
cd "$home"
status=0
as_user NCREWRITE_PROGRAM_UNDER_TEST="$home/$(basename "$program")" \
  bash "$home/run.sh" "$home/$(basename "$tests")" "$@" || status=$?
exit $status
