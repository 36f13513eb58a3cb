# make run   - install what is missing, build, start the production
# make test  - install what is missing, build both targets, run every test
# make dist  - the release archives in dist/: Windows zip, Debian package, web zip
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

# Every date and time stamp that a build writes (the Windows executable's
# header, the archives' members, the package) is the last commit's, so two
# builds of one commit give the same bytes.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

.PHONY: all deps build windows run test test-asan test-tsan bench bench-windows fuzz clean web serve-web \
        dist dist-win32 dist-deb dist-web release-date check-reproducible

all: build

deps:
	@./scripts/install-deps.sh

build: deps
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	@cmake --build build -j $(JOBS)

windows: deps
	@cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake >/dev/null
	@cmake --build build-win32 -j $(JOBS)

# The browser version: build-web/index.html, tumble.js and tumble.wasm, and tumble.html (all in one).
web: deps
	@./scripts/web-build.sh

WEB_PORT ?= 8000
serve-web: web
	@./scripts/web-serve.sh $(WEB_PORT)

run: build
	./build/tumble

test: build windows
	@ctest --test-dir build --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-asan test-tsan
	@./scripts/fuzz.sh $(FUZZ_CI_SECONDS)

# Sanitizer runs, part of `make test`: the unit tests again under ASan + UBSan
# (without the end-to-end runs and the long GL frame renders), the player's
# start/stop and thread tests under ThreadSanitizer.
ASAN_EXCLUDE ?= ^(golden_test|capture_cli_test|capture_headless_test)$$
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize/lsan.supp:print_suppressions=0 \
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sanitize/tsan.supp

test-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUMBLE_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@$(SANITIZER_ENV) ctest --test-dir build-asan --output-on-failure -j $(JOBS) -LE e2e -E '$(ASAN_EXCLUDE)'

test-tsan: deps
	@cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUMBLE_TSAN=ON >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target music_test soak_test
	@$(SANITIZER_ENV) TUMBLE_SOAK_CYCLES=300 \
	    ctest --test-dir build-tsan --output-on-failure -R '^(Output\.|soak_start_stop$$)'

# Fuzzing: `make fuzz FUZZ_SECONDS=600` runs each harness for that long
# (scripts/fuzz.sh); `make test` runs each for FUZZ_CI_SECONDS.
FUZZ_SECONDS ?= 600
FUZZ_CI_SECONDS ?= 30
fuzz: deps
	@./scripts/fuzz.sh $(FUZZ_SECONDS)

bench: build windows
	@./scripts/bench.sh

# The Windows build's benchmark alone (also part of `make bench`).
bench-windows: windows
	@./scripts/bench-windows.sh

# Installation: `make install PREFIX=/usr DESTDIR=/tmp/pkg`; uninstall removes
# what install put there and is unchanged. An empty PREFIX= means the default
# for both.
PREFIX ?= /usr/local
INSTALL_PREFIX = $(or $(PREFIX),/usr/local)
.PHONY: install uninstall
install: build
	@DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(INSTALL_PREFIX)"

# Removes what the install into the same DESTDIR and PREFIX recorded there.
uninstall:
	@DESTDIR="$(DESTDIR)" sh packaging/uninstall.sh "$(INSTALL_PREFIX)"

# The release archives: the Windows zip, the Debian package and the web zip,
# with dist/SHA256SUMS for the three and dist/BUILDINFO, the tool and package
# versions that a rebuild must match. `make check-reproducible` rebuilds them
# in a fresh clone and compares.
VERSION := $(shell sed -n 's/^project.tumble VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DEB_ARCH := $(shell dpkg --print-architecture 2>/dev/null)
DIST_ARCHIVES = tumble-win32.zip tumble_$(VERSION)_$(DEB_ARCH).deb tumble-web.zip
dist: dist-win32 dist-deb dist-web
	@VERSION=$(VERSION) DEB_ARCH=$(DEB_ARCH) ./scripts/dist-buildinfo.sh >dist/BUILDINFO.part && mv dist/BUILDINFO.part dist/BUILDINFO
	@cd dist && sha256sum $(DIST_ARCHIVES) >SHA256SUMS.part && mv SHA256SUMS.part SHA256SUMS
	@cat dist/SHA256SUMS

# A release has no date but the last commit's.
release-date:
	@[ -n "$(SOURCE_DATE_EPOCH)" ] || { echo "make dist: no commit date for the release's time stamps" \
	    "(not a git checkout? set SOURCE_DATE_EPOCH)" >&2; exit 1; }

# The executable and its text (CRLF line ends, as Windows readers expect).
dist-win32: release-date windows
	@rm -rf dist/tumble-win32 dist/tumble-win32.zip && mkdir -p dist/tumble-win32
	@cp build-win32/tumble.exe dist/tumble-win32/tumble.exe
	@sed 's/$$/\r/' platform/win32/tumble.txt >dist/tumble-win32/tumble.txt
	@./scripts/dist-zip.sh dist/tumble-win32 dist/tumble-win32.zip tumble.exe tumble.txt
	@rm -rf dist/tumble-win32
	@echo "dist/tumble-win32.zip: $$(stat -c %s build-win32/tumble.exe) byte tumble.exe + tumble.txt"

# dist/tumble_VERSION_ARCH.deb from its own build folder, build-deb.
dist-deb: release-date deps
	@JOBS=$(JOBS) VERSION=$(VERSION) DEB_ARCH=$(DEB_ARCH) ./packaging/build-deb.sh

# The browser version for web hosts, with the single-file page when the web
# build makes one, and how to host it.
WEB_DIST_FILES = index.html tumble.js tumble.wasm
dist-web: release-date web
	@rm -rf dist/tumble-web dist/tumble-web.zip && mkdir -p dist/tumble-web
	@cp $(addprefix build-web/,$(WEB_DIST_FILES)) dist/tumble-web/
	@if [ -f build-web/tumble.html ]; then cp build-web/tumble.html dist/tumble-web/; \
	 else echo "make dist: no build-web/tumble.html; the web zip has the three host files only" >&2; fi
	@sed 's/$$/\r/' packaging/web-README.txt >dist/tumble-web/README.txt
	@./scripts/dist-zip.sh dist/tumble-web dist/tumble-web.zip \
	    $(WEB_DIST_FILES) $$([ -f dist/tumble-web/tumble.html ] && echo tumble.html) README.txt
	@rm -rf dist/tumble-web
	@echo "dist/tumble-web.zip: $$(unzip -Z1 dist/tumble-web.zip | tr '\n' ' ')"

# Builds the release of the last commit again in a fresh clone elsewhere and
# compares it with dist/, naming the first file that differs.
check-reproducible: dist
	@./scripts/check-reproducible.sh

clean:
	rm -rf build build-win32 build-asan build-tsan build-fuzz build-web build-deb dist
