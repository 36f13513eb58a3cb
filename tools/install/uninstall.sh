#!/bin/sh
# make uninstall: removes exactly what make install recorded putting under
# $DESTDIR$PREFIX, then the folders it created there once they are empty.
# Usage: uninstall.sh RECORDS_DIR PREFIX   (DESTDIR from the environment)
set -u
records=$1
prefix=$(printf '%s' "$2" | sed 's:/*$::')
destdir=$(printf '%s' "${DESTDIR:-}" | sed 's:/*$::')
where="${destdir}${prefix:-/}"
key=$(printf '%s|%s' "$destdir" "$prefix" | sha1sum | cut -c1-40)
record="$records/$key"
if [ ! -f "$record" ] || [ "$(head -n 1 "$record")" != "tumble install record 1" ]; then
    echo "make uninstall: nothing to remove: make install in this checkout recorded no install under $where" \
         "(give the PREFIX and DESTDIR that make install had)" >&2
    exit 1
fi
removed=0
failed=0
while IFS= read -r line; do
    case $line in
    "file "*)
        f=${line#file }
        if [ -e "$f" ] || [ -L "$f" ]; then
            if rm -f -- "$f"; then
                echo "Removed $f"
                removed=$((removed + 1))
            else
                failed=1
            fi
        fi ;;
    esac
done <"$record"
# The deepest folders first, each only when empty.
grep '^dir ' "$record" | cut -c5- | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2- |
    while IFS= read -r d; do
        [ -d "$d" ] && rmdir -- "$d" 2>/dev/null && echo "Removed folder $d"
    done
if [ $failed = 1 ]; then
    echo "make uninstall: some files under $where could not be removed; run it again with the rights to" >&2
    exit 1
fi
rm -f -- "$record"
if [ $removed = 0 ]; then
    echo "make uninstall: nothing to remove under $where: the files make install put there are gone already" >&2
    exit 1
fi
