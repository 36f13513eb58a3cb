#!/bin/sh
# Builds dist/tumble_VERSION_ARCH.deb: a Release build with Debian's hardening
# flags in its own folder, installed with PREFIX=/usr into a staging tree
# inside that folder, so neither build/ nor a user's `make install` (or its
# record) is touched. Then lintian must find no errors and no warnings.
set -e
export LC_ALL=C   # the same sort order and messages everywhere
cd "$(dirname "$0")/.."
BUILD=${DEB_BUILD:-build-deb}
JOBS=${JOBS:-2}
for tool in dpkg-deb dpkg-shlibdeps dpkg-buildflags fakeroot lintian strip; do
    command -v "$tool" >/dev/null || {
        echo "make dist: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    }
done

# The same sources give the same package: every date is the last commit's
# (the Makefile finds it), the version and architecture as the Makefile says.
[ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "make dist: SOURCE_DATE_EPOCH is not set" >&2; exit 1; }
export SOURCE_DATE_EPOCH
version=${VERSION:?make dist: VERSION is not set}
arch=${DEB_ARCH:?make dist: DEB_ARCH is not set}

# Hardened like any Debian package; the build type's -O3 still comes last.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$cflags" -DCMAKE_C_FLAGS="$cflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target programs

stage="$BUILD/stage"
root="$stage/debian/tumble"
rm -rf "$stage"
mkdir -p "$root"
# The files only: the record make install keeps for make uninstall is no part of a package.
DESTDIR="$PWD/$root" cmake --install "$BUILD" --prefix /usr --component files >/dev/null

# The files a Debian package carries besides what make install puts there.
doc="$root/usr/share/doc/tumble"
man="$root/usr/share/man/man1"
install -d -m 755 "$doc" "$man"
install -m 644 packaging/copyright "$doc/copyright"
gzip -9n <packaging/changelog >"$doc/changelog.gz"
for page in "$man"/*.1; do
    gzip -9nf "$page"
done
for program in "$root"/usr/bin/*; do
    strip --remove-section=.comment --remove-section=.note "$program"
done
find "$root" -type d -exec chmod 755 {} +
find "$root" -type f -exec chmod 644 {} +
chmod 755 "$root"/usr/bin/*

# Depends from the libraries the binaries link, through a throw-away
# debian/control that dpkg-shlibdeps wants to see; and libgl1, which SDL opens
# at run time where dpkg-shlibdeps cannot see it. The text's Arial is matched
# by Liberation Sans, recommended: any sans face still works.
mkdir -p "$root/DEBIAN"
printf 'Source: tumble\n\nPackage: tumble\nArchitecture: any\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O debian/tumble/usr/bin/* | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "make dist: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
depends="$depends, libgl1"

(cd "$root" && find usr -type f -printf '%P\n' | sort | sed 's|^|usr/|' | xargs md5sum) >"$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/md5sums"
# As dpkg-gencontrol counts it: each file's apparent size rounded up to a
# KiB, and one KiB for every other entry (not the blocks a file system uses).
size=$(cd "$root" && find . -path ./DEBIAN -prune -o -printf '%y %s\n' |
    awk '$1 == "f" || $1 == "l" { kib += int(($2 + 1023) / 1024); next } { kib += 1 } END { print kib }')
cat >"$root/DEBIAN/control" <<EOF
Package: tumble
Version: $version
Architecture: $arch
Maintainer: tumble maintainers <maintainers@users.noreply.c-seed-b0d807cd.example>
Installed-Size: $size
Depends: $depends
Recommends: fonts-liberation
Section: video
Priority: optional
Description: real-time audiovisual production
 A program that asks for a screen resolution, opens an OpenGL window and
 plays a fixed sequence of animated pictures in sync with a tracker tune
 that it mixes itself. Its textures are generated at start-up; the XM
 module, two small images and a 3D model travel inside the program.
 .
 With it come four tools: tumble-xm2wav renders an XM module to a WAV file
 through the production's own player, tumble-texdump writes the generated
 textures as PNG files, tumble-capture renders the whole show offline to
 frames or a video, and tumble-mkcontent regenerates the embedded content.
EOF
chmod 644 "$root/DEBIAN/control"

find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

mkdir -p dist
deb="dist/tumble_${version}_$arch.deb"
rm -f "$deb"
fakeroot dpkg-deb --build -Zxz "$root" "$deb" >/dev/null
status=0
report=$(lintian --fail-on error,warning --display-info "$deb" 2>&1) || status=$?
printf '%s\n' "$report" | grep -v '^running with root privileges' || true
if [ "$status" != 0 ]; then
    rm -f "$deb"
    echo "make dist: lintian finds errors or warnings in the package" >&2
    exit 1
fi
echo "$deb: $(stat -c %s "$deb") bytes; Depends: $depends"
