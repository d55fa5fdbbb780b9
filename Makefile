# Thin wrapper over the CMake presets. `make test` builds and runs every test,
# once normally and once under AddressSanitizer and UndefinedBehaviorSanitizer,
# runs the fuzz targets briefly, then the tests of the Windows executable, builds everything once more as a
# Release build and checks the Debian package made from it. `make win32`
# builds uinq76.exe, with the runtime libraries that tools/win95-runtime.sh
# builds once per machine, and fetches the qemu-i386 that runs Wine where the
# kernel does not run 32-bit programs (tools/qemu-user.sh); `make package` writes uinq76_<version>_amd64.deb here.
JOBS ?= $(shell nproc)

# Compiles go through ccache where it is installed (tools/dev.sh installs it):
# paths are hashed relative to the checkout, so a fresh clone elsewhere reuses
# what an earlier build compiled.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
export CMAKE_CXX_COMPILER_LAUNCHER := $(CCACHE)
export CMAKE_C_COMPILER_LAUNCHER := $(CCACHE)
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
endif

.PHONY: all build release package test test-default test-release test-package test-asan test-fuzz test-win32 win32 demo clean

all: build

build:
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

release:
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

package: release
	rm -rf build-release/package
	cd build-release && cpack -B package
	cp build-release/package/uinq76_*.deb .

test: test-default test-package test-asan test-fuzz test-win32

test-default: build
	ctest --preset default -j $(JOBS)

test-release: release

test-package: package
	bash tests/package/check_package.sh build-release/package/uinq76_*.deb

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

win32:
	bash tools/win95-runtime.sh
	bash tools/qemu-user.sh
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)

# Every fuzz target (clang, AddressSanitizer, libFuzzer): its committed corpus
# replayed, then 20 seconds of new inputs.
test-fuzz:
	bash tools/fuzz.sh 20

test-win32: win32
	ctest --preset win32 -j $(JOBS)

demo: build
	bash tools/demo.sh build

clean:
	rm -rf build build-release build-asan build-fuzz build-win32 uinq76_*.deb
