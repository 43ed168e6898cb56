# SPDX-License-Identifier: MIT
# The front door: `make run` and `make test` do all set-up on a fresh Debian 12 machine.

JOBS ?= $(shell nproc)

.PHONY: all deps configure build test test-dev test-asan run bench fuzz screenshots format clean

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

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DEXITWISE_BUILD_BENCH=ON -DEXITWISE_BUILD_TESTS=OFF
	cmake --build build/bench -j $(JOBS) --target exitwise_bench exitwise_watch_measure exitwise_app_measure exitwise_evidence_measure exitwise exitwise-log
	./build/bench/bin/exitwise_bench
	./build/bench/bin/exitwise_watch_measure
	./build/bench/bin/exitwise_app_measure watch
	./build/bench/bin/exitwise_app_measure desktop
	./build/bench/bin/exitwise_evidence_measure

# Every fuzz target for FUZZ_SECONDS each; fails on any crash, hang or sanitizer report.
FUZZ_SECONDS ?= 60

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run-fuzzers build/fuzz $(FUZZ_SECONDS)

screenshots: build
	scripts/screenshots

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
