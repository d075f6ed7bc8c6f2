# make run: the vtq tool on the bundled sample cube (its hierarchies, then a shell query).
# make test: the whole test suite.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)
# Developers and CI build with warnings as errors; a plain cmake build from source does not.
CMAKE_FLAGS = -G Ninja -DVTQ_WERROR=ON

.PHONY: all deps deps-dev build build-tool run test sanitize tsan fuzz bench bench-duckdb clean

all: build

# What building and running take.
deps:
	@bash scripts/install-deps.sh

# Also what tests, benchmarks, sanitizers and fuzzing take.
deps-dev:
	@bash scripts/install-deps.sh --dev

# The library and the tool only, so that `make run` needs no test or fuzzing packages.
build-tool: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVTQ_BUILD_TESTS=OFF -DVTQ_BUILD_BENCHMARKS=OFF
	cmake --build $(BUILD) -j $(JOBS)

build: deps-dev
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVTQ_BUILD_TESTS=ON -DVTQ_BUILD_BENCHMARKS=ON
	cmake --build $(BUILD) -j $(JOBS)

run: build-tool
	$(BUILD)/bin/vtq cube
	$(BUILD)/bin/vtq shell --bail < examples/sales/category_by_year.vtq

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps-dev
	cmake -S . -B $(SANITIZE_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DVTQ_SANITIZE="address;undefined" -DVTQ_BUILD_BENCHMARKS=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

# The threaded tests under ThreadSanitizer.
tsan: deps-dev
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DVTQ_SANITIZE=thread -DVTQ_BUILD_BENCHMARKS=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -L threads

# The libFuzzer targets, the whole library instrumented, under AddressSanitizer and
# UndefinedBehaviorSanitizer; scripts/run-fuzz.sh SECONDS runs them.
fuzz: deps-dev
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DVTQ_SANITIZE="address;undefined" -DVTQ_BUILD_FUZZERS=ON \
	  -DVTQ_BUILD_TESTS=OFF -DVTQ_BUILD_BENCHMARKS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

# Every benchmark, then one summary table of their ratios against their goals.
bench: build
	@bash bench/run_all.sh $(BUILD)

# The grid and flat queries against DuckDB (npm package, installed into the build directory;
# skipped with a message without node or the package) at FACTS facts, DuckDB on 1 and 2 threads.
FACTS ?= 2000000
bench-duckdb: build
	@bash bench/duckdb_compare.sh $(BUILD) --facts $(FACTS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(FUZZ_BUILD)
