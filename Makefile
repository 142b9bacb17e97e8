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

# Side-by-side timing against Brian2 (C++ standalone and Cython runtime) and the
# checks that both simulators run the same network. Brian2, numpy and this
# package are installed into $(BENCH_VENV), made from python3.13 on first use.
BENCH_VENV ?= .venv-bench
BENCH_PIP := $(BENCH_VENV)/bin/python -m pip install --quiet --disable-pip-version-check

.PHONY: bench-peer test-peer bench-peer-install

$(BENCH_VENV)/bin/python:
	@py=; for c in $$(command -v python3.13) $$HOME/.pyenv/versions/3.13*/bin/python3.13; do \
	    if [ -x "$$c" ] && "$$c" -c '' 2>/dev/null; then py=$$c; break; fi; done; \
	[ -n "$$py" ] || { echo "python3.13 not found" >&2; exit 1; }; \
	echo "creating $(BENCH_VENV) from $$py"; "$$py" -m venv $(BENCH_VENV)

bench-peer-install: $(BENCH_VENV)/bin/python
	$(BENCH_PIP) "scikit-build-core>=0.10" numpy brian2 pytest
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(BENCH_PIP) --no-build-isolation --no-deps --force-reinstall .

bench-peer: bench-peer-install
	$(BENCH_VENV)/bin/python bench/peer_brian2.py

test-peer: bench-peer-install
	$(BENCH_VENV)/bin/python -m pytest -q tests/peer
