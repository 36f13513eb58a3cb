#!/bin/sh
# The emulator check of scripts/i386.sh against fake emulators: only a qemu
# that answers with version 8.1 or later counts.
. "$(dirname "$0")/../../scripts/i386.sh"
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT
fake() {   # fake NAME OUTPUT
    printf '#!/bin/sh\nprintf "%%s\\n" "%s"\n' "$2" >"$dir/$1" && chmod +x "$dir/$1"
}
fake silent ""
fake v7.2 "qemu-i386 version 7.2.0 (Debian 1:7.2+dfsg-7+deb12u18)"
fake v8.0 "qemu-i386 version 8.0.4"
fake v8.1 "qemu-i386 version 8.1.0"
fake v10.0 "qemu-i386 version 10.0.2 (Debian 1:10.0.2+ds-2+deb13u1~bpo12+1)"
failed=0
expect() {   # expect ok|bad EMULATOR
    if qemu_i386_ok "$2"; then got=ok; else got=bad; fi
    [ "$got" = "$1" ] || { echo "FAIL: ${2##*/}: $got, expected $1"; failed=1; }
}
expect bad "$dir/missing"
expect bad "$dir/silent"
expect bad "$dir/v7.2"
expect bad "$dir/v8.0"
expect ok "$dir/v8.1"
expect ok "$dir/v10.0"
[ $failed = 0 ] && echo "emulator check: missing, silent, 7.2 and 8.0 refused; 8.1 and 10.0 taken"
exit $failed
