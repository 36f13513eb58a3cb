#!/bin/bash
# make install into a DESTDIR lists the expected files; make uninstall
# removes exactly those and leaves a file of someone else's.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
src=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
prefix=/opt/tumble

DESTDIR=$root cmake --install "$build" --prefix $prefix >/dev/null || fail "install exit code $?"
want="bin/tumble
bin/tumble-capture
bin/tumble-mkcontent
bin/tumble-texdump
bin/tumble-xm2wav
share/applications/tumble.desktop
share/icons/hicolor/scalable/apps/tumble.svg
share/man/man1/tumble-capture.1
share/man/man1/tumble-mkcontent.1
share/man/man1/tumble-texdump.1
share/man/man1/tumble-xm2wav.1"
got=$(cd "$root$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$got" = "$want" ] || fail "installed files:
$got"
"$root$prefix/bin/tumble-xm2wav" --version >/dev/null || fail "installed tool does not run"
grep -q '^Exec=tumble$' "$root$prefix/share/applications/tumble.desktop" || fail "desktop entry"

touch "$root$prefix/bin/other"
DESTDIR=$root cmake -DPREFIX=$prefix -P "$src/tools/install/uninstall.cmake" >/dev/null || fail "uninstall exit code $?"
left=$(cd "$root$prefix" && find . -type f | sed 's|^\./||')
[ "$left" = "bin/other" ] || fail "after uninstall: $left"
echo "install and uninstall: ok"
