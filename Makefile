# Thin wrapper over the CMake presets. `make test` builds and runs every test,
# once normally and once under AddressSanitizer and UndefinedBehaviorSanitizer.
JOBS ?= $(shell nproc)

.PHONY: all build test test-default test-asan demo clean

all: build

build:
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: test-default test-asan

test-default: build
	ctest --preset default -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

demo: build
	bash tools/demo.sh build

clean:
	rm -rf build build-asan
