#!/bin/bash
# make install into a DESTDIR puts the expected files and records them with
# their SHA-256 under the prefix; make uninstall removes only those that are
# unchanged, and the folders install created (also after a reinstall); it
# keeps a changed file and names it, leaves a file of someone else's, refuses
# (exit 1) a record naming anything outside DESTDIR+PREFIX or belonging to
# another user, and where nothing is recorded: another PREFIX, or a second time.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -u
export LC_ALL=C   # the file list below is in byte order
build=$1
src=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
prefix=/opt/tumble
record=$root$prefix/share/tumble/install-record
install() { DESTDIR=$root cmake --install "$build" --prefix $prefix >/dev/null || fail "install exit code $?"; }
uninstall() { DESTDIR=$root sh "$src/packaging/uninstall.sh" "$1"; }
tree() { (cd "$root" && find . -mindepth 1 | sed 's|^\./||' | sort | tr '\n' ' '); }

install
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
share/man/man1/tumble.1
share/tumble/install-record"
got=$(cd "$root$prefix" && find . -type f | sed 's|^\./||' | sort)
[ "$got" = "$want" ] || fail "installed files:
$got"
"$root$prefix/bin/tumble-xm2wav" --version >/dev/null || fail "installed tool does not run"
grep -q '^Exec=tumble$' "$root$prefix/share/applications/tumble.desktop" || fail "desktop entry"

msg=$(uninstall /usr/local 2>&1) && fail "uninstall of another PREFIX: exit code 0"
grep -q "nothing to remove" <<<"$msg" || fail "uninstall of another PREFIX said: $msg"

# A record that names what install did not put under DESTDIR+PREFIX, or that
# is someone else's, decides nothing.
installed=$(tree)
cp "$record" "$root/good"
mkdir -p "$root/outside" && echo precious >"$root/outside/victim" && mkdir "$root/outside/emptydir"
for line in "file $(sha256sum <"$root/outside/victim" | cut -c1-64) $root/outside/victim" \
            "file $(sha256sum <"$root/outside/victim" | cut -c1-64) $root$prefix/bin/../../../outside/victim" \
            "dir $root/outside/emptydir"; do
    cp "$root/good" "$record" && echo "$line" >>"$record"
    msg=$(uninstall $prefix 2>&1) && fail "a record naming '$line': exit code 0"
    grep -q "refusing .*nothing removed" <<<"$msg" || fail "a record naming '$line' said: $msg"
done
cp "$root/good" "$record"
if [ "$(id -u)" = 0 ]; then
    chown 65534 "$record"
    msg=$(uninstall $prefix 2>&1) && fail "uninstall with another user's record: exit code 0"
    grep -q "belongs to user 65534" <<<"$msg" || fail "another user's record said: $msg"
    chown 0 "$record"
fi
rm -r "$root/good" "$root/outside"
[ "$(tree)" = "$installed" ] || fail "a refused record changed the tree: $(tree)"

# A reinstall keeps the folders to remove; a file the user changed is kept.
install
grep -q "^dir $root$prefix/share/man/man1$" "$record" || fail "the reinstall's record lost the folders"
echo "# mine" >>"$root$prefix/share/applications/tumble.desktop"
touch "$root$prefix/bin/other"
msg=$(uninstall $prefix 2>&1) && fail "uninstall with a changed file: exit code 0"
grep -q "kept $root$prefix/share/applications/tumble.desktop: it changed" <<<"$msg" || fail "changed file: $msg"
left=$(tree)
[ "$left" = "opt opt/tumble opt/tumble/bin opt/tumble/bin/other opt/tumble/share opt/tumble/share/applications opt/tumble/share/applications/tumble.desktop opt/tumble/share/tumble opt/tumble/share/tumble/install-record " ] ||
    fail "after uninstall: $left"
rm "$root$prefix/share/applications/tumble.desktop"
uninstall $prefix 2>/dev/null && fail "an uninstall with nothing left to remove: exit code 0"
[ "$(tree)" = "opt opt/tumble opt/tumble/bin opt/tumble/bin/other " ] || fail "at the end: $(tree)"
uninstall $prefix 2>/dev/null && fail "a second uninstall: exit code 0"
echo "install and uninstall: ok"
