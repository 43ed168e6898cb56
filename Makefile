# SPDX-License-Identifier: MIT
# The front door: `make run` and `make test` do all set-up on a fresh Debian 12 machine.

JOBS ?= $(shell nproc)

.PHONY: all deps configure build test test-dev test-asan run format clean

all: build

deps:
	@scripts/install-deps

build/CMakeCache.txt:
	cmake --preset dev

build/asan/CMakeCache.txt:
	cmake --preset asan

configure: deps build/CMakeCache.txt

build: configure
	cmake --build --preset dev -j $(JOBS)

test-dev: build
	ctest --preset dev -j $(JOBS)

test-asan: deps build/asan/CMakeCache.txt
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test: test-dev test-asan

run: build
	./build/bin/exitwise $(ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
