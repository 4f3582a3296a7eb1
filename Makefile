# Telvar: `make demo` and `make test` do everything on a fresh Debian 12 machine.
BUILD_DIR      ?= build
TEST_BUILD_DIR ?= build-test
JOBS           ?= $(shell nproc)

CMAKE_RELEASE = cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DTELVAR_BUILD_TESTS=OFF -DTELVAR_BUILD_BENCH=ON
CMAKE_TEST    = cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
                -DTELVAR_SANITIZE=ON -DTELVAR_BUILD_TESTS=ON -DTELVAR_BUILD_BENCH=OFF

.PHONY: all deps build build-test test demo run bench package clean

all: build

deps:
	@scripts/install-deps

build: deps
	@$(CMAKE_RELEASE) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

build-test: deps
	@$(CMAKE_TEST) >/dev/null
	@cmake --build $(TEST_BUILD_DIR) -j $(JOBS)

# Every test, under AddressSanitizer and UndefinedBehaviorSanitizer, offscreen.
test: build-test
	@QT_QPA_PLATFORM=offscreen \
	 ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 \
	 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	 ctest --test-dir $(TEST_BUILD_DIR) --output-on-failure -j $(JOBS)

# The tool with the simulated encoder box on 串口1.
demo: build
	@scripts/demo $(BUILD_DIR)

# The tool for real hardware.
run: build
	@scripts/run $(BUILD_DIR)

# The Debian package, built from the release tree: $(BUILD_DIR)/telvar_<version>_amd64.deb.
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

bench: build
	@scripts/bench $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR)
