#!/usr/bin/env bash
# Runs a Windows program under Wine (tools/wine/run.sh) in the locale LOCALE
# (such as ja_JP.UTF-8), from which Wine takes the system's ANSI code page.
# A locale that the system lacks is built from Debian's locale sources
# (package locales) into build/locales once, and found there through
# LOCPATH: nothing on the system changes.
#   run-in-locale.sh LOCALE PROGRAM [ARGUMENT...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { echo "usage: $0 LOCALE PROGRAM [ARGUMENT...]" >&2; exit 2; }
locale=$1
shift
export NCREWRITE_WINE_LOCALE=$locale
# "ja_JP.UTF-8" is listed as "ja_JP.utf8".
listed=$(sed -E 's/\.UTF-?8$/.utf8/I' <<<"$locale")
if ! locale -a 2>/dev/null | grep -qix -- "$listed"; then
  locales=${NCREWRITE_LOCALE_DIR:-$here/../../build/locales}
  mkdir -p "$locales"
  (
    flock 9
    if [ ! -e "$locales/$locale/LC_CTYPE" ]; then
      language=${locale%%.*}
      charset=${locale#*.}
      # Warnings about the sources are no failure; a missing result is.
      localedef -i "$language" -f "$charset" "$locales/$locale" >/dev/null 2>&1 || true
      [ -e "$locales/$locale/LC_CTYPE" ] ||
        { echo "$0: cannot build the locale $locale (Debian package locales)" >&2; exit 1; }
    fi
  ) 9>"$locales.lock"
  export LOCPATH=$locales
fi
exec "$here/run.sh" "$@"
