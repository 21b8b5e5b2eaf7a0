# One word for each everyday task; the real work lives in CMakePresets.json.
.PHONY: deps demo install-user test test-debug test-sanitize test-tsan bench screenshots format format-check clean

JOBS ?= 2
SOURCES = $(shell find src tests bench tools -name '*.cpp' -o -name '*.h' 2>/dev/null)

deps:
	@scripts/install-deps.sh

# The main job end to end: a pull-request build opens in the stand-in simulator.
demo: deps
	cmake --preset debug
	cmake --build --preset debug -j $(JOBS) --target quaylet quaylet-devservice quaylet-hosttools
	scripts/demo.sh

# Quaylet for the person at this keyboard: the programs, the stand-in tools and the launcher
# entry under ~/.local, registered as this user's handler of quaylet:// links.
install-user: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target quaylet-app quaylet quaylet-hosttools
	cmake --install build/release --prefix $(HOME)/.local
	scripts/register-url-handler.sh $(HOME)/.local

# Every test, in the plain build and again under the address and UB sanitizers; the
# cancellation and concurrency tests once more under the thread sanitizer.
test: deps
	$(MAKE) test-debug
	$(MAKE) test-sanitize
	$(MAKE) test-tsan

test-debug test-sanitize test-tsan: test-%:
	cmake --preset $*
	cmake --build --preset $* -j $(JOBS)
	ctest --preset $*

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target quaylet-bench
	build/release/bin/quaylet-bench

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
