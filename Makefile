# Entry points for newcomers and CI; CMake + Ninja do the real work.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# A CTest -R pattern narrowing `make test-asan` (e.g. '^(core|net)_'); empty runs all.
ASAN_TESTS ?=

.PHONY: all deps build run test test-asan package bench screenshot soak clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/tarnwell

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

$(BUILD_ASAN)/build.ninja:
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=ON $(CMAKE_ARGS)

test-asan: deps $(BUILD_ASAN)/build.ninja
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS) --timeout 600 \
	  $(if $(ASAN_TESTS),-R '$(ASAN_TESTS)')

# A Debian package in $(BUILD), then checked: scripts/check-package.
package: build
	@scripts/install-deps --package
	rm -f $(BUILD)/tarnwell_*.deb
	cmake --build $(BUILD) --target package
	scripts/check-package $(BUILD)/tarnwell_*.deb

bench: build
	@scripts/install-deps --bench
	scripts/run-benchmarks $(BUILD) $(BUILD)/bench-results.txt; status=$$?; \
	  scripts/bench-table $(BUILD)/bench-results.txt; exit $$status

# Mixed traffic in every mode for SOAK_MINUTES with memory sampled each
# minute, after the relay check at 100 MB.
SOAK_MINUTES ?= 60
soak: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen TARNWELL_DATA_DIR=$(CURDIR)/data TARNWELL_RELAY_MB=100 \
	  ./reliability_tst_reliability relayIsByteExact
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen TARNWELL_DATA_DIR=$(CURDIR)/data SOAK_MINUTES=$(SOAK_MINUTES) \
	  ./tarnwell_soak

screenshot: build
	@scripts/install-deps --screenshot
	scripts/screenshot $(BUILD)/tarnwell docs

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ)

# Fuzzing: a clang build of its own; each target runs FUZZ_SECONDS from its
# seeds in fuzz/corpus/; the inputs it adds and whatever it finds go to
# FUZZ_OUT, inside the build folder, so a run leaves the tree as it was.
BUILD_FUZZ   ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_OUT     ?= $(BUILD_FUZZ)/findings
# Target names (fuzz/<name>.cpp) to run; empty runs all.
FUZZ_TARGETS ?=

.PHONY: fuzz
fuzz:
	@scripts/install-deps --fuzz
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DTARNWELL_FUZZ=ON $(CMAKE_ARGS)
	cmake --build $(BUILD_FUZZ) --target fuzz_targets -j $(JOBS)
	scripts/run-fuzz $(BUILD_FUZZ) $(FUZZ_SECONDS) $(FUZZ_OUT) $(FUZZ_TARGETS)
