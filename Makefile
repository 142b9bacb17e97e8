# Single entry point for building, testing and benchmarking.
#   make demo           install the module into .venv and run examples/quickstart.py
#   make test           C++ unit tests and Python tests
#   make test-sanitize  the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   make test-tsan      the parallel tick under ThreadSanitizer
#   make test-mpi       the distributed-run tests under mpirun, on 1, 2 and 3 ranks
#   make bench          Release build, every benchmark, one key=value line per figure
#   make bench-mpi      the reference network's tick on 1 and 2 ranks
#   make fuzz           every fuzz target for FUZZ_SECONDS (default 60) under ASan + UBSan

JOBS ?= 2
CMAKE ?= cmake
# Extra arguments for the test runners, e.g. CTEST_FLAGS=--stop-on-failure PYTEST_FLAGS=-x.
CTEST_FLAGS ?=
PYTEST_FLAGS ?=

VENV := .venv
VENV_ASAN := .venv-asan
PY := $(VENV)/bin/python
PY_ASAN := $(VENV_ASAN)/bin/python
PIP_INSTALL := -m pip install --quiet --disable-pip-version-check --no-build-isolation \
	--no-deps --force-reinstall
# Sanitized extension: its own persistent build tree, instrumented core libs.
ASAN_CONFIG := -C build-dir=build/py-asan/{wheel_tag} -C cmake.build-type=RelWithDebInfo \
	-C cmake.define.VORN_SANITIZE=ON
# The interpreter is not instrumented, so the sanitizer runtimes are preloaded;
# it also leaks by design at exit, hence no leak detection.
SANITIZER_PRELOAD = $$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)

.PHONY: all demo test test-cpp test-python test-sanitize test-cpp-sanitize \
	test-python-sanitize test-tsan python-install python-install-asan bench format \
	deps-build deps-test deps-mpi deps-fuzz deps-bench python-install-mpi test-mpi bench-mpi fuzz

all: test

# Debian packages that a fresh machine lacks are installed on first use.
deps-build:
	tools/install_deps.sh build

deps-test:
	tools/install_deps.sh build test

deps-mpi:
	tools/install_deps.sh build mpi

deps-fuzz:
	tools/install_deps.sh build fuzz

deps-bench:
	tools/install_deps.sh build bench

demo: python-install
	$(PY) examples/quickstart.py

test: test-cpp test-python

test-sanitize: test-cpp-sanitize test-python-sanitize

# The ticks shared by worker threads, under ThreadSanitizer.
test-tsan: deps-test
	$(CMAKE) -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_TSAN=ON -DVORN_BUILD_BENCH=OFF
	$(CMAKE) --build build/tsan --target test_engine -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/cpp/test_engine --gtest_filter='Parallel*'

test-cpp: deps-test
	$(CMAKE) -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_BUILD_BENCH=OFF
	$(CMAKE) --build build/test -j $(JOBS)
	ctest --test-dir build/test --output-on-failure -j $(JOBS) $(CTEST_FLAGS)

test-cpp-sanitize: deps-test
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON -DVORN_BUILD_BENCH=OFF
	$(CMAKE) --build build/asan -j $(JOBS)
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)

python-install: deps-build
	tools/ensure_venv.sh $(VENV)
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY) $(PIP_INSTALL) .

python-install-asan: deps-build
	tools/ensure_venv.sh $(VENV_ASAN)
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY_ASAN) $(PIP_INSTALL) $(ASAN_CONFIG) .

test-python: python-install
	$(PY) -m pytest -q $(PYTEST_FLAGS) tests/python

test-python-sanitize: python-install-asan
	LD_PRELOAD="$(SANITIZER_PRELOAD)" ASAN_OPTIONS=detect_leaks=0 \
		UBSAN_OPTIONS=print_stacktrace=1 $(PY_ASAN) -m pytest -q -p no:cacheprovider tests/python

# Distributed runs: Open MPI, then vorn_py (which builds its vorn_py_mpi
# module when CMake finds MPI), then mpi4py, all in $(VENV); vorn_py itself
# needs none of them. A build tree configured before Open MPI was installed
# may remember MPI as missing: then it is configured afresh.
MPIRUN = mpirun --oversubscribe $(if $(filter 0,$(shell id -u)),--allow-run-as-root)
# A rank that fails between two collective calls leaves the others waiting.
MPI_TIMEOUT ?= 900

python-install-mpi: deps-mpi
	tools/ensure_venv.sh $(VENV)
	CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY) $(PIP_INSTALL) .
	@$(PY) -c 'import vorn_py_mpi' 2>/dev/null || { \
	    echo "vorn_py_mpi was not built: configuring afresh"; \
	    rm -f build/py/*/CMakeCache.txt; \
	    CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) $(PY) $(PIP_INSTALL) . && $(PY) -c 'import vorn_py_mpi'; }
	$(PY) -m pip install --quiet --disable-pip-version-check "mpi4py>=3.1"

# Each rank runs the same tests; -n 2 is the case that matters most, 1 and 3
# catch what only shows with one rank or an odd split.
test-mpi: python-install-mpi
	@for n in 1 2 3; do \
	    echo "tests/mpi on $$n rank(s)"; \
	    timeout $(MPI_TIMEOUT) $(MPIRUN) -n $$n $(PY) -m pytest -q -p no:cacheprovider tests/mpi \
	        || exit 1; \
	done

# The reference network's tick on 1 and 2 ranks (one thread each) and the
# spike exchange's share; bench/mpi_tick.py starts mpirun itself.
bench-mpi: python-install-mpi
	$(PY) bench/mpi_tick.py

bench: deps-bench python-install
	$(CMAKE) -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVORN_BUILD_TESTS=OFF
	$(CMAKE) --build build/release -j $(JOBS)
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b" || exit 1; done
	$(PY) bench/run_tick.py
	$(PY) bench/experiments.py
	$(PY) bench/workflow.py
	$(PY) bench/call_rate.py

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

# libFuzzer targets, one per reader (tests/fuzz/), built with clang with every
# library under AddressSanitizer and UndefinedBehaviorSanitizer. Each runs for
# FUZZ_SECONDS from a corpus written from folders made through the store; new
# inputs accumulate in $(FUZZ_BUILD)/corpus, crashes land in
# $(FUZZ_BUILD)/crashes and each run's output in $(FUZZ_BUILD)/logs.
# The Python-value target keeps the embedded interpreter alive for the whole
# run, so leak detection is off for it.
FUZZ_SECONDS ?= 60
FUZZ_CC ?= clang-19
FUZZ_CXX ?= clang++-19
FUZZ_TARGETS ?= topology metadata weights event_line uuid py_value state
FUZZ_BUILD := build/fuzz

fuzz: deps-fuzz
	tools/ensure_venv.sh $(VENV)
	$(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=$(FUZZ_CC) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_FUZZ=ON -DVORN_BUILD_TESTS=OFF \
		-DVORN_BUILD_BENCH=OFF -DPython_EXECUTABLE=$(CURDIR)/$(PY)
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS)
	$(FUZZ_BUILD)/tests/fuzz/make_fuzz_corpus $(FUZZ_BUILD)/corpus
	@mkdir -p $(FUZZ_BUILD)/crashes $(FUZZ_BUILD)/logs
	@for t in $(FUZZ_TARGETS); do \
		leaks=1; [ $$t = py_value ] && leaks=0; \
		log=$(FUZZ_BUILD)/logs/$$t.log; \
		if ASAN_OPTIONS=detect_leaks=$$leaks:malloc_context_size=8 \
			$(FUZZ_BUILD)/tests/fuzz/fuzz_$$t \
			-max_total_time=$(FUZZ_SECONDS) \
			-detect_leaks=$$leaks -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- $(FUZZ_BUILD)/corpus/$$t >$$log 2>&1; \
		then \
			echo "fuzz_$$t: $$(sed -n 's/^stat::number_of_executed_units: *//p' $$log) executions, no crash"; \
		else \
			echo "fuzz_$$t: FAILED, see $$log"; tail -n 40 $$log; exit 1; \
		fi; \
	done

# Side-by-side timing against Brian2 (C++ standalone on 1 and 2 threads, Cython runtime) and the
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
