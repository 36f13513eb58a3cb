#!/bin/bash
# make install into a DESTDIR puts the expected files and records them;
# make uninstall removes exactly those and the folders install created,
# leaves a file of someone else's, and refuses (exit 1) where it recorded
# nothing: another PREFIX, or a second time.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -u
export LC_ALL=C   # the file list below is in byte order
build=$1
src=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
prefix=/opt/tumble
uninstall() { DESTDIR=$root sh "$src/tools/install/uninstall.sh" "$build/install-records" "$1"; }

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
share/man/man1/tumble-xm2wav.1
share/man/man1/tumble.1"
got=$(cd "$root$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$got" = "$want" ] || fail "installed files:
$got"
"$root$prefix/bin/tumble-xm2wav" --version >/dev/null || fail "installed tool does not run"
grep -q '^Exec=tumble$' "$root$prefix/share/applications/tumble.desktop" || fail "desktop entry"

msg=$(uninstall /usr/local 2>&1) && fail "uninstall of another PREFIX: exit code 0"
grep -q "nothing to remove" <<<"$msg" || fail "uninstall of another PREFIX said: $msg"
[ -e "$root$prefix/bin/tumble" ] || fail "uninstall of another PREFIX removed a file"

touch "$root$prefix/bin/other"
uninstall $prefix >/dev/null || fail "uninstall exit code $?"
left=$(cd "$root" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' ')
[ "$left" = "opt opt/tumble opt/tumble/bin opt/tumble/bin/other " ] || fail "after uninstall: $left"
uninstall $prefix 2>/dev/null && fail "a second uninstall: exit code 0"
echo "install and uninstall: ok"
