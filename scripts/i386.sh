# Running Wine's 32-bit programs on kernels without 32-bit support: through
# qemu's user-mode emulator, registered with binfmt_misc. Sourced by
# install-deps.sh and the Wine end-to-end runs; POSIX sh.

QEMU_I386=${QEMU_I386:-/usr/bin/qemu-i386-static}

# qemu_i386_ok [EMULATOR]: the emulator exists, answers --version and is 8.1
# or later (Wine relies on MAP_FIXED_NOREPLACE, which older ones lack).
qemu_i386_ok() {
    _q=${1:-$QEMU_I386}
    [ -x "$_q" ] || return 1
    _v=$("$_q" --version 2>/dev/null | sed -n '1s/.*version \([0-9][0-9]*\)\.\([0-9][0-9]*\).*/\1 \2/p')
    [ -n "$_v" ] || return 1
    _major=${_v% *} _minor=${_v#* }
    [ "$_major" -gt 8 ] || { [ "$_major" -eq 8 ] && [ "$_minor" -ge 1 ]; }
}

# i386_runs: a 32-bit program starts here (natively or through a handler).
i386_runs() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# i386_register: sends 32-bit programs through $QEMU_I386, replacing a
# handler of that name that points elsewhere. Needs root; says why it failed.
i386_register() {
    _b=/proc/sys/fs/binfmt_misc
    if [ ! -e "$_b/register" ]; then
        mount -t binfmt_misc binfmt_misc "$_b" 2>/dev/null || {
            echo "binfmt_misc cannot be mounted on $_b" >&2
            return 1
        }
    fi
    if [ -e "$_b/qemu-i386" ]; then
        grep -qx "interpreter $QEMU_I386" "$_b/qemu-i386" && return 0
        echo -1 >"$_b/qemu-i386" 2>/dev/null || {
            echo "the qemu-i386 handler in $_b cannot be replaced" >&2
            return 1
        }
    fi
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':F' \
        >"$_b/register" 2>/dev/null || {
        echo "qemu-i386 cannot be registered in $_b (needs root)" >&2
        return 1
    }
}

# i386_emulated: 32-bit programs run through the emulator (several times slower).
i386_emulated() {
    [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386
}
