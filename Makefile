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

.PHONY: all deps build demo test asan tsan fuzz install package package-check emulated cross \
	cross-check cross-bench check soak valgrind clean

all: build

# DEPS_ARCHS: the architectures cross builds are set up for too.
DEPS_ARCHS ?=
deps:
	@scripts/install-deps.sh $(DEPS_ARCHS)

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

# The library and its many-callers tests, and the hub's tests of tills at
# once, of its front door, journal and status, under ThreadSanitizer.
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

# The Debian source package and this machine's binary packages, built by
# dpkg-buildpackage from a copy of the tree in build-deb/ (DEB_BUILD_OPTIONS,
# e.g. nocheck, passes through).
package:
	JOBS=$(JOBS) scripts/build-packages.sh build-deb

# lintian, then installs the packages into this system over a stand-in of the
# former satvaro package, uses them and purges them (needs root).
package-check: package
	tests/package/deb_test.sh build-deb

# The arm64 build's codec and serial tests, the library end to end and a
# console session, under qemu-user (the simulator is this machine's).
emulated: build
	cmake --workflow --preset cross-arm64-quick

# The binary packages of CROSS_ARCHS, cross built in build-deb-<arch>/, after
# setting this machine up for them.
CROSS_ARCHS ?= i386 arm64 armhf
cross:
	scripts/install-deps.sh $(CROSS_ARCHS)
	for arch in $(CROSS_ARCHS); do JOBS=$(JOBS) scripts/build-packages.sh build-deb-$$arch $$arch || exit 1; done

# lintian on each architecture's packages and its tests (those of `emulated`
# and the other end-to-end tests), then the package check, with
# libsatvaro1:i386 beside the native one. The native suite has run already.
cross-check: export DEB_BUILD_OPTIONS := nocheck
cross-check: cross build package
	for arch in $(CROSS_ARCHS); do \
	  lintian --fail-on error,warning build-deb-$$arch/*.changes && \
	  cmake --workflow --preset cross-$$arch || exit 1; \
	done
	tests/package/deb_test.sh build-deb $(if $(filter i386,$(CROSS_ARCHS)),build-deb-i386)

# The driver's overhead per call on amd64, i386 and arm64 in one run.
cross-bench: build
	for arch in i386 arm64; do \
	  cmake --preset cross-$$arch >/dev/null && cmake --build --preset cross-$$arch --target bench_commands || exit 1; \
	done
	scripts/cross-bench.sh build build-cross-i386 build-cross-arm64

check:
	$(MAKE) deps DEPS_ARCHS=arm64
	$(MAKE) test asan tsan fuzz emulated
	$(MAKE) package-check DEB_BUILD_OPTIONS=nocheck

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
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-deb build-deb-* build-cross-*
