# One word for each everyday task; the real work lives in CMakePresets.json.
.PHONY: deps demo install-user test test-fast test-soak test-debug test-sanitize test-tsan fuzz fuzz-smoke \
	fuzz-build bench bench-app coverage screenshots format format-check clean

JOBS ?= 2
# How long each fuzz target runs: FUZZ_SECONDS for a real campaign, the smoke time in CI.
FUZZ_SECONDS ?= 180
FUZZ_SMOKE_SECONDS ?= 10
SOURCES = $(shell find src tests bench tools -name '*.cpp' -o -name '*.h' 2>/dev/null)

deps:
	@scripts/install-deps.sh

# The main job end to end: a pull-request build opens in the stand-in simulator.
demo: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target quaylet quaylet-app quaylet-devservice quaylet-hosttools
	scripts/demo.sh

# Quaylet for the person at this keyboard: the programs, the stand-in tools and the launcher
# entry under ~/.local, registered as this user's handler of quaylet:// links.
install-user: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target quaylet-app quaylet quaylet-hosttools
	cmake --install build/release --prefix $(HOME)/.local
	scripts/register-url-handler.sh $(HOME)/.local

# Every test once, in the strictest build that can judge it: the whole suite under the address
# and UB sanitizers; the soak test, whose descriptor, thread and memory levels the sanitizers
# would distort, in the plain build, which also compiles the benchmarks; the cancellation and
# concurrency tests once more under the thread sanitizer; then a short run of every fuzz
# target, so a parser that crashes again is caught. The whole suite in the plain build as well
# would double the longest build for no fault that the sanitized run misses.
test: deps
	$(MAKE) test-sanitize
	$(MAKE) test-soak
	$(MAKE) test-tsan
	$(MAKE) fuzz-smoke

# The quick check while editing: the debug build's in-process unit tests, which start no
# server, child program, bus or display. The programs built are the ones holding such tests.
test-fast:
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target quaylet-core-tests quaylet-feature-tests quaylet-hosttools-tests
	ctest --preset debug -L unit

test-soak:
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target quaylet-fault-tests quaylet-bench quaylet-tray-baseline
	ctest --preset debug -L soak

test-debug test-sanitize test-tsan: test-%:
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)
	ctest --preset $*

# Line and branch coverage of the whole suite for each product folder, from a build with gcc's
# counters; stale counters from an earlier run are cleared first.
coverage: deps
	cmake --preset coverage
	cmake --build --preset coverage -j $(JOBS)
	@# A removed or moved source leaves its object and counter notes behind: they would count
	@# as code never run, and clash with the current notes of a header's inline functions.
	ninja -C build/coverage -t cleandead
	find build/coverage -name '*.gcno' | while read -r notes; do \
		[ -e "$${notes%.gcno}.o" ] || rm "$$notes"; done
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage
	scripts/coverage-table.sh build/coverage

# Each parser of untrusted input under libFuzzer, one target after the other; the corpus grows
# in build/fuzz/corpus/ from one run to the next.
fuzz: fuzz-build
	scripts/run-fuzzers.sh $(FUZZ_SECONDS) build/fuzz

fuzz-smoke: fuzz-build
	scripts/run-fuzzers.sh $(FUZZ_SMOKE_SECONDS) build/fuzz

fuzz-build: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

# Every benchmark, the application's start-up included, ending with one table of this run:
# row, figure, target, met.
BENCH_TABLE = build/release/bench-table.tsv
bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target quaylet-bench quaylet-app quaylet-tray-baseline
	rm -f $(BENCH_TABLE)
	QUAYLET_BENCH_TABLE=$(BENCH_TABLE) build/release/bin/quaylet-bench
	QUAYLET_BENCH_TABLE=$(BENCH_TABLE) bench/app-startup.sh build/release/bin
	@awk -F '\t' 'BEGIN { printf "\n%-66s %12s %12s  %s\n", "Row", "Figure", "Target", "Met" } \
		{ printf "%-66s %12s %12s  %s\n", $$1, $$2, $$3, $$4 }' $(BENCH_TABLE)

# Start-up time, idle memory and idle CPU of the graphical app, against a bare tray program.
bench-app: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target quaylet-app quaylet-tray-baseline
	bench/app-startup.sh build/release/bin

# Every screen, tab and panel state of the interface as PNG files in build/screenshots/.
screenshots: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target quaylet-screenshots
	build/debug/bin/quaylet-screenshots build/screenshots

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf build
