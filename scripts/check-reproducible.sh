#!/bin/sh
# Builds the release of the last commit again, in a fresh clone at another
# path and a later time, and compares its dist/ with this tree's: each
# archive, SHA256SUMS and BUILDINFO. Names the first file that differs, and
# inside an archive the first member; diffoscope, when installed, shows how.
# The clone stays for a look when something differs.
#   check-reproducible.sh      (make check-reproducible runs make dist first)
set -u
export LC_ALL=C
cd "$(dirname "$0")/.." || exit 1
here=$PWD
fail() { echo "check-reproducible: $*" >&2; exit 1; }

[ -f dist/SHA256SUMS ] && [ -f dist/BUILDINFO ] || fail "no dist/SHA256SUMS or dist/BUILDINFO (make dist makes them)"
commit=$(git rev-parse HEAD) || fail "not a git checkout"
grep -qx "Commit: $commit" dist/BUILDINFO || fail "dist/ is not the release of $commit (make dist makes it)"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    fail "this tree has uncommitted changes, which a clone of $commit would not build"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tumble-reproduce.XXXXXX") || fail "cannot make a temporary folder"
clone="$tmp/tumble-$commit"
git clone -q --no-hardlinks "$here" "$clone" && git -C "$clone" checkout -q --detach "$commit" ||
    fail "cannot clone $here into $clone"
echo "check-reproducible: building the release of $commit again in $clone"
# The clone takes its dates from its own commit, as any rebuild would.
if ! env -u SOURCE_DATE_EPOCH make -C "$clone" --no-print-directory dist >"$tmp/build.log" 2>&1; then
    tail -n 30 "$tmp/build.log" >&2
    fail "make dist failed in the clone (log: $tmp/build.log)"
fi

# first_member A_DIR B_DIR: the first file (in sorted order) that is missing
# from one side or differs, or nothing.
first_member() {
    (cd "$1" && find . -type f | sort) >"$tmp/a.list"
    (cd "$2" && find . -type f | sort) >"$tmp/b.list"
    cmp -s "$tmp/a.list" "$tmp/b.list" || {
        diff "$tmp/a.list" "$tmp/b.list" | sed -n '2{s/^[<>] \.\///;s/$/ (only on one side)/;p;q;}'
        return
    }
    while read -r f; do
        cmp -s "$1/$f" "$2/$f" || { echo "${f#./}"; return; }
    done <"$tmp/a.list"
}

# explain NAME: where inside the archive NAME the two builds part.
explain() {
    a="$here/dist/$1" b="$clone/dist/$1" x="$tmp/x-$1"
    rm -rf "$x" && mkdir -p "$x/a" "$x/b"
    case $1 in
    *.zip)
        unzip -qo "$a" -d "$x/a" && unzip -qo "$b" -d "$x/b" || return
        member=$(first_member "$x/a" "$x/b")
        if [ -n "$member" ]; then echo "  first member that differs: $member"
        else echo "  the members are the same; the zip's own records (dates, modes, order) differ"; fi ;;
    *.deb)
        dpkg-deb -R "$a" "$x/a" && dpkg-deb -R "$b" "$x/b" || return
        member=$(first_member "$x/a" "$x/b")
        if [ -n "$member" ]; then echo "  first file that differs: $member"
        else echo "  the files are the same; the package's archive records (dates, owners, order) differ"; fi ;;
    *)
        diff -u "$a" "$b" | sed -n '1,40p' ;;
    esac
    if command -v diffoscope >/dev/null; then
        diffoscope --text - "$a" "$b" 2>/dev/null | sed -n '1,200p'
    else
        echo "  (diffoscope, when installed, shows the differences in detail)"
    fi
}

files="$(awk '{ print $2 }' dist/SHA256SUMS) SHA256SUMS BUILDINFO"
for f in $files; do
    [ -f "$clone/dist/$f" ] || fail "the clone made no dist/$f (log: $tmp/build.log)"
    if ! cmp -s "dist/$f" "$clone/dist/$f"; then
        echo "check-reproducible: dist/$f differs between $here and $clone" >&2
        explain "$f" >&2
        fail "not reproducible; the clone stays in $tmp"
    fi
done
rm -rf "$tmp"
echo "check-reproducible: the release of $commit builds to the same bytes in a fresh clone:"
cat dist/SHA256SUMS
