# One-command entry points. Each installs what is missing first, so a fresh Debian 12 machine
# needs nothing else.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: deps build test demo clean

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

demo: build
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD)

# The Debian package, written to $(BUILD)/, and lintian's verdict on it: errors and warnings fail,
# the packaged overrides explain the ones that stay. lintian is not among the dependencies: it is
# large and only this check needs it.
.PHONY: package package-check

package: build
	cd $(BUILD) && cpack -G DEB

package-check: package
	@command -v lintian >/dev/null || { echo "package-check: lintian is not installed"; exit 1; }
	lintian --display-info --fail-on error,warning $$(ls -t $(BUILD)/norvo-scheduled-scan_*.deb | head -n1)

# Robustness: the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, a short run
# of every fuzz target from its generated corpus, and the demo's run under valgrind.
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := frame_reader configd_dispatch fc_dispatch

.PHONY: check-sanitize fuzz-build fuzz-smoke check-valgrind

# -O1 with line tables is what the sanitizers want, and builds in far less time than -O2 -g. The
# package test checks files and fields, nothing that runs under a sanitizer, so it is left out.
SANITIZE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"

check-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) $(SANITIZE_FLAGS) -DNORVO_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j$(JOBS) \
	  -E '^debian_package$$'

fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_FLAGS) -DNORVO_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target make_corpus $(addprefix fuzz_,$(FUZZ_TARGETS))
	$(FUZZ_BUILD)/fuzz/make_corpus fuzz/corpus

fuzz-smoke: fuzz-build
	scripts/fuzz-run $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

check-valgrind: build
	scripts/valgrind-run $(BUILD)

# Benchmarks against their limits, in a Release build of their own: prints the table and writes
# it to BENCHMARKS.md. Slow and sensitive to the machine's load, so never part of `make test`.
BENCH_BUILD ?= build-bench

.PHONY: bench

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DNORVO_BENCH=ON
	cmake --build $(BENCH_BUILD) -j$(JOBS) --target norvo-bench
	$(BENCH_BUILD)/bench/norvo-bench --report=BENCHMARKS.md
