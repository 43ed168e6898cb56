# SPDX-License-Identifier: MIT
# The front door: `make run` and `make test` do all set-up on a fresh Debian 12 machine.

JOBS ?= $(shell nproc)

.PHONY: all deps deps-test configure configure-tests build test test-dev test-asan run bench fuzz package screenshots format clean

all: build

deps:
	@scripts/install-deps

deps-test:
	@scripts/install-deps --test

# `make run` needs no test packages: the first configure leaves the tests out, `make test`
# turns them on.
build/CMakeCache.txt:
	cmake --preset dev -DEXITWISE_BUILD_TESTS=OFF

build/asan/CMakeCache.txt:
	cmake --preset asan

configure: deps build/CMakeCache.txt

build: configure
	cmake --build --preset dev -j $(JOBS)

configure-tests: deps-test
	cmake --preset dev -DEXITWISE_BUILD_TESTS=ON

test-dev: configure-tests
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev -j $(JOBS)

test-asan: deps-test build/asan/CMakeCache.txt
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test: test-dev test-asan

run: build
	./build/bin/exitwise $(ARGS)

bench:
	@scripts/install-deps --bench
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DEXITWISE_BUILD_BENCH=ON -DEXITWISE_BUILD_TESTS=OFF
	cmake --build build/bench -j $(JOBS) --target exitwise_bench exitwise_watch_measure exitwise_app_measure exitwise_evidence_measure exitwise exitwise-log
	./build/bench/bin/exitwise_bench
	./build/bench/bin/exitwise_watch_measure
	./build/bench/bin/exitwise_app_measure watch
	./build/bench/bin/exitwise_app_measure desktop
	./build/bench/bin/exitwise_evidence_measure

# Every fuzz target for FUZZ_SECONDS each; fails on any crash, hang or sanitizer report.
FUZZ_SECONDS ?= 60

fuzz:
	@scripts/install-deps --fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run-fuzzers build/fuzz $(FUZZ_SECONDS)

# The Debian package, build/package/exitwise_<version>_<arch>.deb: a Release build installed
# under /usr, its dependencies read from the shared libraries it links.
package:
	@scripts/install-deps --package
	cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DEXITWISE_BUILD_TESTS=OFF -DEXITWISE_PACKAGE=ON
	cmake --build build/package -j $(JOBS)
	cd build/package && cpack -G DEB

screenshots: configure-tests
	scripts/screenshots

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
