# Thin front end over CMake + Ninja. `make demo` and `make check` set up a
# fresh Debian 12 machine (packages), build and run.
JOBS       ?= $(shell nproc)
TEST_JOBS  ?= $(shell echo $$(( $$(nproc) * 3 )))
FUZZ_SECONDS ?= 30
BUILD      ?= build
CMAKE_GEN  := -G Ninja

.PHONY: all deps build demo test asan fuzz check clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSATVARO_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@echo "built:"; ls -1 $(BUILD)/lib $(BUILD)/bin

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)

# The whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSATVARO_WERROR=ON \
	  -DSATVARO_SANITIZE=address,undefined -DSATVARO_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(TEST_JOBS)

# Everything built with clang; the fuzz targets as libFuzzer programs, each
# run for FUZZ_SECONDS from its committed corpus.
fuzz: deps
	CXX=clang++ CC=clang cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSATVARO_WERROR=ON -DSATVARO_LIBFUZZER=ON -DSATVARO_SANITIZE=address,undefined
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers.sh build-fuzz/bin fuzz/corpus $(FUZZ_SECONDS)

check: test asan fuzz

clean:
	rm -rf $(BUILD) build-asan build-fuzz
