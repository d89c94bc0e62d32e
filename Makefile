# The two commands of the README: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_WERROR=ON

.PHONY: all deps configure build run test test-main test-asan format format-check fuzz bench package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-korvane $(BUILD)

test: deps format-check test-main test-asan

test-main: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The core libraries and their tests again under AddressSanitizer and UBSan; the window is left out.
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVANE_WERROR=ON -DKORVANE_SANITIZE=ON \
	  -DKORVANE_GUI=OFF -DKORVANE_CLI=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L core

# The Debian packages korvane-cli and korvane, made by CPack in $(BUILD)/packages.
package: build
	@rm -f $(BUILD)/packages/*.deb
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@ls -1 $(BUILD)/packages/*.deb

format-check: deps
	@scripts/check-format

format:
	@clang-format-14 -i $$(git ls-files -- '*.cpp' '*.h')

# The image core and the tool's import under libFuzzer, built with clang (warnings as errors, so
# the tool is known to build with clang as well as g++).
fuzz: deps
	@CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_FUZZ=ON \
	  -DKORVANE_WERROR=ON -DKORVANE_GUI=OFF -DKORVANE_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target image_fuzz import_fuzz korvane-cli korvane-examples
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: deps
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BENCH=ON -DKORVANE_TESTS=OFF >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@scripts/run-bench $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
