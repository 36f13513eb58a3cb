#!/bin/sh
# make uninstall: removes what make install put under $DESTDIR$PREFIX, as
# its record there (share/tumble/install-record) lists it: each file only
# while it is still the one installed (same SHA-256), then the folders the
# install created there, once empty. A changed file is kept and named. A
# record that names anything outside $DESTDIR$PREFIX, or that belongs to
# another user, is refused whole: it decides nothing.
# Usage: uninstall.sh PREFIX   (DESTDIR from the environment)
set -u
prefix=$(printf '%s' "$1" | sed 's:/*$::')
destdir=$(printf '%s' "${DESTDIR:-}" | sed 's:/*$::')
where="${destdir}${prefix}"
where=${where:-/}
record="${destdir}${prefix}/share/tumble/install-record"
say() { echo "make uninstall: $*" >&2; }
refuse() { say "refusing $record: $*; nothing removed"; exit 1; }

if [ ! -e "$record" ] && [ ! -L "$record" ]; then
    say "nothing to remove: no install is recorded under $where (give the PREFIX and DESTDIR that make install had)"
    exit 1
fi
{ [ -L "$record" ] || [ ! -f "$record" ]; } && refuse "it is not a regular file"
owner=$(stat -c %u -- "$record") || exit 1
[ "$owner" = "$(id -u)" ] ||
    refuse "it belongs to user $owner, not to you (run make uninstall as the user who ran make install)"
[ "$(head -n 1 -- "$record")" = "tumble install record 2" ] || refuse "it is not a record make install writes"

# Every path, its .. resolved, must lie under $DESTDIR$PREFIX (files) or be it (folders).
root=$(realpath -m -s -- "$where")
under() {   # under PATH [or-root]: PATH is absolute and below root
    case $1 in /*) ;; *) return 1 ;; esac
    p=$(realpath -m -s -- "$1")
    [ "$root" = / ] && [ "$p" != / ] && return 0
    case $p in "$root"/*) return 0 ;; esac
    [ $# = 2 ] && [ "$p" = "$root" ]
}
n=0
while IFS= read -r line; do
    n=$((n + 1))
    case $n:$line in
    1:*) ;;
    *:"destdir $destdir" | *:"prefix $prefix") ;;
    *:file\ *)
        rest=${line#file }
        hash=${rest%% *}
        path=${rest#* }
        [ ${#hash} = 64 ] && [ -z "$(printf '%s' "$hash" | tr -d 0-9a-f)" ] && under "$path" ||
            refuse "line $n names $path, which is not a file under $where" ;;
    *:dir\ *)
        under "${line#dir }" root || refuse "line $n names ${line#dir }, which is not a folder at or under $where" ;;
    *) refuse "line $n is not one make install writes: $line" ;;
    esac
done <"$record"

# Each file is looked at from inside its folder, after checking where that
# folder really is, so that no link in the path can lead the removal elsewhere.
real=$(cd -P -- "$where" 2>/dev/null && pwd -P) || refuse "cannot enter $where"
inside() { [ "$real" = / ] || [ "$1" = "$real" ] || [ "${1#"$real"/}" != "$1" ]; }
remove() {   # remove HASH PATH: prints removed, gone, changed, other or failed
    (
        cd -P -- "$(dirname -- "$2")" 2>/dev/null || { echo gone; exit; }
        inside "$(pwd -P)" || { echo other; exit; }
        f=./$(basename -- "$2")
        if [ -L "$f" ] || { [ -e "$f" ] && [ ! -f "$f" ]; }; then echo other; exit; fi
        [ -e "$f" ] || { echo gone; exit; }
        [ "$(sha256sum <"$f" | cut -c1-64)" = "$1" ] || { echo changed; exit; }
        rm -f -- "$f" && echo removed || echo failed
    )
}
# The deepest folders first.
dirs=$(grep '^dir ' "$record" | cut -c5- | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2-)
removed=0 kept=0 failed=0
while IFS= read -r line; do
    case $line in
    file\ *)
        rest=${line#file }
        path=${rest#* }
        case $(remove "${rest%% *}" "$path") in
        removed) echo "Removed $path"; removed=$((removed + 1)) ;;
        changed) say "kept $path: it changed since make install put it there"; kept=$((kept + 1)) ;;
        other) say "kept $path: it is no longer the file make install put there"; kept=$((kept + 1)) ;;
        failed) failed=1 ;;
        esac ;;
    esac
done <"$record"
if [ $failed = 0 ] && [ $kept = 0 ]; then
    rm -f -- "$record" || failed=1
fi
# Each folder only when empty and really at or under $DESTDIR$PREFIX.
printf '%s\n' "$dirs" | while IFS= read -r d; do
    [ -n "$d" ] && here=$(cd -P -- "$d" 2>/dev/null && pwd -P) && inside "$here" &&
        rmdir -- "$d" 2>/dev/null && echo "Removed folder $d"
done
if [ $failed = 1 ]; then
    say "some files under $where could not be removed; run it again with the rights to"
    exit 1
fi
if [ $kept != 0 ]; then
    say "kept $kept changed file(s) under $where; remove them yourself if you no longer want them" \
        "(the record stays until they are gone)"
    exit 1
fi
if [ $removed = 0 ]; then
    say "nothing to remove under $where: the files make install put there are gone already"
    exit 1
fi
