# Top-level entry points. `make test` and `make run` install what is missing first.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
GENERATOR ?= Ninja
JOBS ?= $(shell nproc)

.PHONY: all deps build test test-sanitize test-tsan run package fuzz bench clean format

all: build

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

$(ASAN_DIR)/CMakeCache.txt:
	cmake -S . -B $(ASAN_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DTESSELLARION_SANITIZE=ON -DTESSELLARION_BENCH=OFF

test-sanitize: deps $(ASAN_DIR)/CMakeCache.txt
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:max_allocation_size_mb=1024 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan-suppressions.txt \
	  ctest --output-on-failure -j $(JOBS)

# Without the window: Qt is not built with ThreadSanitizer, so the locks inside it are invisible to
# it; the runner, the engine and the imaging library it checks are all there.
$(TSAN_DIR)/CMakeCache.txt:
	cmake -S . -B $(TSAN_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELLARION_TSAN=ON \
	  -DTESSELLARION_BENCH=OFF -DTESSELLARION_GUI=OFF

# The suite under ThreadSanitizer: a data race between the batch's workers fails it.
test-tsan: deps $(TSAN_DIR)/CMakeCache.txt
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan-suppressions.txt \
	  ctest --output-on-failure -j $(JOBS)

run: build
	@scripts/run-demo $(BUILD_DIR)

# The Debian package, $(BUILD_DIR)/tessellarion_VERSION_ARCH.deb.
package: build
	cmake --build $(BUILD_DIR) --target package

fuzz:
	@scripts/install-deps --fuzz
	cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELLARION_FUZZ=ON -DTESSELLARION_SANITIZE=ON -DTESSELLARION_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)

bench: build
	@scripts/install-deps --bench
	bench/run $(BUILD_DIR)
	bench/scaling $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) build-fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
