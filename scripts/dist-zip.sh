#!/bin/sh
# Zips FILES of DIR into ZIP alike on every machine: the members in the
# order given, dated SOURCE_DATE_EPOCH (zip stores local time, hence TZ=UTC),
# mode 644, no extra attributes (owners, second time stamps), no folders.
#   dist-zip.sh DIR ZIP FILE...
set -e
[ $# -ge 3 ] || { echo "usage: dist-zip.sh DIR ZIP FILE..." >&2; exit 2; }
dir=$1 zip=$2
shift 2
command -v zip >/dev/null || { echo "make dist: zip is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
[ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "make dist: SOURCE_DATE_EPOCH is not set" >&2; exit 1; }
case $zip in /*) ;; *) zip="$PWD/$zip" ;; esac
cd "$dir"
for f in "$@"; do
    [ -f "$f" ] || { echo "make dist: no $dir/$f" >&2; exit 1; }
    chmod 644 "$f"
    touch -d "@$SOURCE_DATE_EPOCH" "$f"
done
rm -f "$zip"
TZ=UTC zip -q -X -D -9 "$zip" "$@"
