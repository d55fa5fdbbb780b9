# Thin wrapper over the CMake presets. `make test` builds and runs every test,
# once normally and once under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the tests of the Windows executable. `make win32` builds uinq76.exe.
JOBS ?= $(shell nproc)

.PHONY: all build test test-default test-asan test-win32 win32 demo clean

all: build

build:
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: test-default test-asan test-win32

test-default: build
	ctest --preset default -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

win32:
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

test-win32: win32
	ctest --preset win32 -j $(JOBS)

demo: build
	bash tools/demo.sh build

clean:
	rm -rf build build-asan build-win32
