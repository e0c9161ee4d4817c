# The two commands a newcomer needs:
#   make run    set up, build and start Kelvara
#   make test   set up, build and run every test
# Both install what is missing first (scripts/setup.sh, Debian packages).

JOBS     ?= $(shell nproc)
BUILD    ?= build
ASAN     ?= build-asan
TSAN     ?= build-tsan
# Wall seconds for all fuzz targets together; they run side by side, JOBS at a time.
FUZZ_BUDGET ?= 240
CMAKE_GEN = -G Ninja

.PHONY: setup build run test test-release test-asan test-tsan fuzz bench clean

setup:
	@bash scripts/setup.sh

# Release with line tables only (-g1): backtraces keep functions, files and lines,
# and compiling and linking without full debug info is much quicker.
$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/kelvara

test: test-release test-asan test-tsan fuzz

test-release: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# One clang build of the GUI-free cores and libraries serves ASan+UBSan and the
# fuzzers: everything carries both sanitizers and the fuzzers' coverage hooks.
# -O1 with line tables: quick to build, readable stack traces, asserts on.
SANITIZER_CONFIG = cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS_DEBUG="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" \
	  -DKELVARA_GUI=OFF -DKELVARA_FUZZ=ON -DKELVARA_BENCH=OFF

# The unit tests of the GUI-free cores under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: setup
	$(SANITIZER_CONFIG)
	cmake --build $(ASAN) -j $(JOBS) --target kelvara_tests_unit
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS) -L unit

# Tests labelled "tsan" (threaded libraries) under ThreadSanitizer; only they are built.
test-tsan: setup
	cmake -S . -B $(TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKELVARA_GUI=OFF \
	  -DKELVARA_SANITIZE=thread -DKELVARA_BENCH=OFF
	cmake --build $(TSAN) -j $(JOBS) --target kelvara_tests_tsan
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN) --output-on-failure -j $(JOBS) -L tsan --no-tests=ignore

# Every libFuzzer target from its seed corpus, JOBS side by side, FUZZ_BUDGET seconds in all.
fuzz: setup
	$(SANITIZER_CONFIG)
	cmake --build $(ASAN) -j $(JOBS) --target kelvara_fuzzers
	bash scripts/run-fuzzers.sh $(ASAN) $(FUZZ_BUDGET) $(JOBS)

bench: build
	bash scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(ASAN)
