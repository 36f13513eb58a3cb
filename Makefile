# make run   - install what is missing, build, start the production
# make test  - install what is missing, build both targets, run every test
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps build windows run test bench fuzz clean

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

run: build
	./build/tumble

test: build windows
	@ctest --test-dir build --output-on-failure -j $(JOBS)

bench: build
	@./scripts/bench.sh

clean:
	rm -rf build build-win32
