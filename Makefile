# Thin front end over the CMake presets (CMakePresets.json): each target runs
# a preset, plus what a preset cannot say. `make demo` and `make check` first
# set up a fresh Debian 12 machine (packages); the others expect them there.
# JOBS compile jobs; TEST_JOBS tests at once (the device tests mostly wait on
# the device's pacing).
JOBS       ?= $(shell nproc)
TEST_JOBS  ?= $(shell echo $$(( $$(nproc) * 3 )))
FUZZ_SECONDS ?= 20
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)
export CTEST_PARALLEL_LEVEL := $(TEST_JOBS)
BUILD      := build

.PHONY: all deps build demo test asan tsan fuzz install package package-check check soak valgrind clean

all: build

deps:
	@scripts/install-deps.sh

build:
	cmake --preset plain && cmake --build --preset plain

# The console on the simulated device, in a fresh scratch directory where its
# files and the driver's log land; the loader finds the library just built.
DEMO_WORK  := $(BUILD)/demo-work
DEMO_SALE  := $(abspath examples/venda.xml)

demo: deps
	@$(MAKE) --no-print-directory build
	@rm -rf $(DEMO_WORK) && mkdir -p $(DEMO_WORK) && cp examples/fimAfim.xml $(DEMO_WORK)/
	@echo
	@echo "== zozivodivo on a simulated SAT device (working directory $(DEMO_WORK))"
	@echo "   The device expects the activation code 12345678: type it at the first prompt."
	@echo "   Then try 1 (query), 0 (activate: CNPJ 34567890000130, UF 35), 6 (send the sample"
	@echo "   sale), 7 (cancel it), 8 (end-to-end test), 4 and 5 (block, unblock), 3 (device log)."
	@echo "   Type q to quit."
	@echo
	@sim/satvaro-harness --sim $(BUILD)/bin/satvaro-sim --workdir $(abspath $(DEMO_WORK)) -- \
	  env LD_LIBRARY_PATH=$(abspath $(BUILD))/lib $(abspath $(BUILD))/bin/zozivodivo -f $(DEMO_SALE)

test:
	cmake --workflow --preset plain

# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
asan:
	cmake --workflow --preset asan

# The library and its many-callers tests, and the hub's concurrent and
# front-door tests, under ThreadSanitizer.
tsan:
	cmake --workflow --preset tsan

# Everything built again with clang (the tests are built, not run: the two
# runs above cover them); the fuzz targets as libFuzzer programs, each run
# for FUZZ_SECONDS from its committed corpus.
fuzz:
	cmake --workflow --preset fuzz && scripts/run-fuzzers.sh build-fuzz/bin fuzz/corpus $(FUZZ_SECONDS)

# Installs the build under PREFIX (DESTDIR for staging), then refreshes the
# loader's cache so that the console finds the library.
PREFIX     ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)
	@if [ -z "$(DESTDIR)" ] && [ "$$(id -u)" -eq 0 ]; then ldconfig; fi

# The Debian package, from a release build for /usr (one .deb in the folder).
package:
	rm -f build-package/satvaro_*.deb && cmake --workflow --preset package

# Installs the package into this system, uses it, removes it (needs root).
package-check: package
	tests/package/deb_test.sh build-package/satvaro_*.deb

check: deps
	$(MAKE) test asan tsan fuzz package-check

# 10,000 exported calls against the simulator, with the device's pacing
# (about 3 h 15 min), sampling the host's RSS and open descriptors; e.g.
# SOAK_ARGS=--no-pauses for the same calls without the pauses (~10 min).
SOAK_CALLS ?= 10000
SOAK_ARGS  ?=
soak: build
	sim/satvaro-harness --sim $(BUILD)/bin/satvaro-sim --sim-arg --activated -- \
	  $(BUILD)/bin/satvaro_soak --calls $(SOAK_CALLS) $(SOAK_ARGS)

# valgrind memcheck of the end-to-end sessions (they also run in `make test`).
valgrind: build
	ctest --preset valgrind

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-package
