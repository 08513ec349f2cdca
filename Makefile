# Thin front end over CMake + Ninja. `make demo` and `make check` set up a
# fresh Debian 12 machine (packages), build and run.
JOBS       ?= $(shell nproc)
TEST_JOBS  ?= $(shell echo $$(( $$(nproc) * 3 )))
FUZZ_SECONDS ?= 20
BUILD      ?= build
CMAKE_GEN  := -G Ninja

.PHONY: all deps build demo test asan tsan fuzz install package package-check check soak valgrind clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSATVARO_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

# The console on the simulated device, in a fresh scratch directory where its
# files and the driver's log land; the loader finds the library just built.
DEMO_WORK  := $(BUILD)/demo-work
DEMO_SALE  := $(abspath examples/venda.xml)

demo: build
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

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSATVARO_WERROR=ON \
	  -DSATVARO_SANITIZE=address,undefined -DSATVARO_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(TEST_JOBS)

# The library and its many-callers tests under ThreadSanitizer.
tsan: deps
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSATVARO_WERROR=ON \
	  -DSATVARO_SANITIZE=thread -DSATVARO_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target satvaro satvaro-sim zozivodivo commands_many_callers
	ctest --test-dir build-tsan -R '^ManyCallers\.' --output-on-failure -j $(TEST_JOBS)

# Everything built again with clang (the tests are built, not run: the two
# runs above cover them); the fuzz targets as libFuzzer programs, each run
# for FUZZ_SECONDS from its committed corpus.
fuzz: deps
	CXX=clang++ CC=clang cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSATVARO_WERROR=ON -DSATVARO_LIBFUZZER=ON -DSATVARO_SANITIZE=address,undefined \
	  -DSATVARO_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers.sh build-fuzz/bin fuzz/corpus $(FUZZ_SECONDS)

# Installs the build under PREFIX (DESTDIR for staging), then refreshes the
# loader's cache so that the console finds the library.
PREFIX     ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)
	@if [ -z "$(DESTDIR)" ] && [ "$$(id -u)" -eq 0 ]; then ldconfig; fi

# The Debian package, from a release build for /usr.
PACKAGE_BUILD ?= build-package
package: deps
	cmake -S . -B $(PACKAGE_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DSATVARO_WERROR=ON -DSATVARO_TESTS=OFF -DSATVARO_BENCH=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/satvaro_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls $(PACKAGE_BUILD)/satvaro_*.deb

# Installs the package into this system, uses it, removes it (needs root).
package-check: package
	tests/package/deb_test.sh $(PACKAGE_BUILD)/satvaro_*.deb

check: test asan tsan fuzz package-check

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
	ctest --test-dir $(BUILD) -L valgrind --output-on-failure

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz $(PACKAGE_BUILD)
