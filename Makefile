# Single entry point for building, testing and benchmarking.
#   make test           C++ unit tests and Python tests
#   make test-sanitize  the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   make bench          Release build, every benchmark, one key=value line per figure

JOBS ?= 2
CMAKE ?= cmake

.PHONY: all test test-cpp test-sanitize test-cpp-sanitize bench format

all: test

test: test-cpp

test-sanitize: test-cpp-sanitize

test-cpp:
	$(CMAKE) -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_BUILD_BENCH=OFF
	$(CMAKE) --build build/test -j $(JOBS)
	ctest --test-dir build/test --output-on-failure -j $(JOBS)

test-cpp-sanitize:
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON -DVORN_BUILD_BENCH=OFF
	$(CMAKE) --build build/asan -j $(JOBS)
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)

bench:
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVORN_BUILD_TESTS=OFF
	$(CMAKE) --build build/release -j $(JOBS)
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')
