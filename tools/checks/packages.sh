#!/usr/bin/env bash
# The release packages as users install them. The Debian package from the
# release preset is installed with dpkg -i (as root, as in CI), its
# /usr/bin/ncrewrite run on a sample program, and removed again with
# dpkg -r. The Windows archive from the windows preset is unpacked into a
# fresh folder and its ncrewrite.exe run under Wine on a sample program,
# once with the sample settings file beside it and once set to test=1.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
fail() { echo "packages: $*" >&2; exit 1; }

work=$(mktemp -d)
sudo=""
installed_here=""
cleanup() {
  if [ -n "$installed_here" ]; then $sudo dpkg -r ncrewrite >/dev/null 2>&1 || true; fi
  if [ -d "$work/wine-prefix" ]; then WINEPREFIX=$work/wine-prefix wineserver -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A program with one M104/M80/M81 block, and what the rewrite makes of it.
printf '%%\r\nN10 G90\r\nM104\r\nG1 X10\r\nM80\r\nM81\r\nM30\r\n' >"$work/sample.nc"
printf '%%\r\nN10 G90\r\nM104 M180\r\nG1 X10\r\nM30\r\n' >"$work/expected.nc"
mkdir "$work/jobs"
# Fails unless the file $1 holds the rewritten sample; $2 says who wrote it.
expect_rewritten() {
  [ -f "$1" ] || fail "$2: $1 was not written"
  cmp -s "$1" "$work/expected.nc" || fail "$2: $1 holds $(od -c "$1" | head -n 5)"
}

# Builds the package of one preset and names it on standard output.
build_package() {
  local preset=$1 pattern=$2
  rm -f "build/$preset"/$pattern
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target package >"$work/$preset-package.log" 2>&1 ||
    { tail -n 40 "$work/$preset-package.log"; fail "building the $preset package failed"; }
  local made=(build/"$preset"/$pattern)
  [ ${#made[@]} -eq 1 ] && [ -f "${made[0]}" ] || fail "the $preset build made no package $pattern"
  echo "${made[0]}"
}

version=$(sed -n 's/^project(ncrewrite .*VERSION \([0-9.]*\)).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project version in CMakeLists.txt"

echo "-- the Debian package"
deb=$(build_package release 'ncrewrite_*.deb')
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = ncrewrite ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version), not $version"
[ "$(field Maintainer)" = "ncrewrite developers" ] || fail "maintainer $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no description"
grep -q 'libstdc++6' <<<"$(field Depends)" || fail "no dependency on the C++ runtime: $(field Depends)"
contents=$(dpkg-deb -c "$deb")
grep -q ' \./usr/bin/ncrewrite$' <<<"$contents" || fail "the package holds no /usr/bin/ncrewrite"

if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || fail "installing the package needs root (or sudo without a password)"
  sudo="sudo -n"
fi
# The check must not replace what the machine has.
if dpkg-query -W -f='${Status}' ncrewrite 2>/dev/null | grep -q 'install ok installed' ||
   [ -e /usr/bin/ncrewrite ]; then
  fail "ncrewrite is installed on this machine already (/usr/bin/ncrewrite); remove it first"
fi
$sudo dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
installed_here=yes
[ -x /usr/bin/ncrewrite ] || fail "dpkg -i installed no /usr/bin/ncrewrite"
[ "$(command -v ncrewrite)" = /usr/bin/ncrewrite ] || fail "ncrewrite on the PATH is $(command -v ncrewrite)"
cp "$work/sample.nc" "$work/jobs/part.nc"
(cd "$work" && ncrewrite jobs/part.nc) || fail "the installed program ended with status $? on a sample program"
expect_rewritten "$work/jobs/part.nc" "/usr/bin/ncrewrite"
$sudo dpkg -r ncrewrite >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r failed"; }
installed_here=""
[ ! -e /usr/bin/ncrewrite ] || fail "dpkg -r left /usr/bin/ncrewrite behind"
echo "installed with dpkg -i, rewrote a sample program, removed with dpkg -r: $deb"

echo "-- the Windows archive"
zip=$(build_package windows 'ncrewrite-*-win64.zip')
[ "$(basename "$zip")" = "ncrewrite-$version-win64.zip" ] || fail "archive name $(basename "$zip")"
# Unpacked as a user would, into a folder whose name has a blank.
mkdir -p "$work/Program Files"
(cd "$work/Program Files" && cmake -E tar xf "$root/$zip") || fail "cannot unpack $zip"
folder="$work/Program Files/ncrewrite-$version-win64"
[ "$(cd "$folder" && ls | sort | tr '\n' ' ')" = "LICENSE.txt README.md ncrewrite.exe ncrewrite.ini " ] ||
  fail "the archive holds $(cd "$work/Program Files" && find . -type f | sort | tr '\n' ' ')"
cmp -s "$folder/ncrewrite.ini" examples/ncrewrite.ini || fail "ncrewrite.ini is not the sample"
cmp -s "$folder/LICENSE.txt" LICENSE || fail "LICENSE.txt is not the licence"

# In a Wine prefix of its own, made now and ended with the check, and
# without a display, as in CI: a failure report would not wait for OK.
run_exe() {
  (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY NCREWRITE_WINEPREFIX="$work/wine-prefix" \
    "$root/tools/wine/run.sh" "$folder/ncrewrite.exe" "$@")
}
cp "$work/sample.nc" "$work/jobs/part.nc"
run_exe "$work/jobs/part.nc" || fail "ncrewrite.exe ended with status $? on a sample program"
expect_rewritten "$work/jobs/part.nc" "ncrewrite.exe with the sample settings"
sed -i 's/^test=0\r$/test=1\r/' "$folder/ncrewrite.ini"
grep -q $'^test=1\r$' "$folder/ncrewrite.ini" || fail "the sample settings file has no line test=0"
cp "$work/sample.nc" "$work/jobs/part.nc"
run_exe "$work/jobs/part.nc" || fail "ncrewrite.exe ended with status $? with test=1"
expect_rewritten "$work/jobs/part.tap" "ncrewrite.exe with test=1"
cmp -s "$work/jobs/part.nc" "$work/sample.nc" || fail "with test=1 the program file changed"
echo "unpacked, ran ncrewrite.exe under Wine with the sample settings and with test=1: $zip"
